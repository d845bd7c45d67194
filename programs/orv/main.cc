// orv: the site manager, run by the web server once per request.
#include <iostream>
#include <ostream>

#include "formdecode/console.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "site/answer.h"
#include "site/request.h"

// What `orv --help` prints.
constexpr const char* usage =
    "Usage: orv (started by a web server as a CGI program, e.g. as orv.cgi)\n"
    "The site manager: answers one request (a form sent with GET or POST) with\n"
    "one HTML page, working on the site files in the directory html below the\n"
    "directory it is started in (config.txt, site.config, kb.txt, TYPE.in,\n"
    "file.ic, inbox, outbox, ...). The form's fields are message_type, flag,\n"
    "ic_type, ic_sym_name, ic_id_list, content (or ic_par_num and ic_par_1...)\n"
    "and db_access. A request whose Accept header names application/json is\n"
    "answered with a JSON object instead (docs/answer.schema.json). To try it\n"
    "by hand:\n"
    "  REQUEST_METHOD=GET QUERY_STRING='message_type=MSG_SHOW_CONFIG&flag=orv' orv\n"
    "orvsite lays out, checks and tends sites; see orvsite --help.\n"
    "  --help     this text\n"
    "  --version  the version\n";

int main(int argc, char** argv) {
  if (formdecode::answer_console_request(argc, argv, "orv", usage, std::cout)) return 0;
  platform::restart_with_large_pages(argv, "html/file.ic");  // the store it loads
  // The page goes out as it is written. A request for JSON gets the answer
  // in values instead, and only then is the page kept, for the answer.
  bool json = site::wants_json(platform::environment("HTTP_ACCEPT").value_or(""));
  formdecode::page_copy copy(nullptr);
  std::ostream page_stream(json ? static_cast<std::streambuf*>(&copy) : std::cout.rdbuf());
  formdecode::output out(page_stream);
  site::answer answer;
  if (json) answer.page_so_far = &copy.text();
  int status = 0;
  bool completed = false;
  try {
    // The site's files are in html below the directory the server starts it in.
    site::run_request(formdecode::request::from_environment(std::cin), out, answer,
                      site::run_context{"html", nullptr});
    completed = true;
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  out.finish();
  if (json) {
    site::finish_answer(answer, status, completed);
    std::cout << "Content-type: application/json\n\n" << site::answer_json(answer);
    std::cout.flush();
  }
  return status;
}
