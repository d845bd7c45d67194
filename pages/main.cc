// vexil: the page-template interpreter, run by the web server once per
// request.
#include <iostream>

#include "formdecode/console.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "pages/vexil.h"

// What `vexil --help` prints.
constexpr const char* usage =
    "Usage: vexil (started by a web server as a CGI program, e.g. as vexil.cgi)\n"
    "The page interpreter: shows the page named by the form field zoa_name from\n"
    "the page descriptions (.zoaml), templates (.tpl) and stored form values\n"
    "(.par) in the directory html/zoaml below the directory it is started in.\n"
    "To try it by hand:\n"
    "  REQUEST_METHOD=GET QUERY_STRING='zoa_name=orv_manager' vexil\n"
    "  --help     this text\n"
    "  --version  the version\n";

int main(int argc, char** argv) {
  if (formdecode::answer_console_request(argc, argv, "vexil", usage, std::cout)) return 0;
  formdecode::page pg(std::cout);
  int status = 0;
  try {
    pages::run(formdecode::request::from_environment(std::cin), pg);
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  pg.flush();
  return status;
}
