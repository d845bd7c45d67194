// cellkit: the template manager, run by the web server once per request.
#include <iostream>

#include "formdecode/console.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "programs/cellkit/driver.h"

// What `cellkit --help` prints.
constexpr const char* usage =
    "Usage: cellkit (started by a web server as a CGI program, e.g. as cellkit.cgi)\n"
    "The template manager: the cell engine of orv with template hooks and a\n"
    "click demo (message types SINGLECLICK and DOUBLECLICK), working on\n"
    "file.ic and the TYPE.in files in the directory html below the directory\n"
    "it is started in. To try it by hand:\n"
    "  REQUEST_METHOD=GET QUERY_STRING='message_type=SYS_BACKUP&flag=orv' cellkit\n"
    "  --help     this text\n"
    "  --version  the version\n";

int main(int argc, char** argv) {
  if (formdecode::answer_console_request(argc, argv, "cellkit", usage, std::cout)) return 0;
  platform::restart_with_large_pages(argv, "html/file.ic");  // the store it loads
  formdecode::output out(std::cout);
  int status = 0;
  try {
    cellkit::run(formdecode::request::from_environment(std::cin), out);
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  out.finish();
  return status;
}
