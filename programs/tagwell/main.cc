// tagwell: registers the test name with the naming service of the working
// directory and reports the ic id it was given.
#include <iostream>

#include "formdecode/console.h"
#include "formdecode/page.h"
#include "programs/tagwell/driver.h"

// What `tagwell --help` prints.
constexpr const char* usage =
    "Usage: tagwell\n"
    "The console test driver of the naming service: registers its test name\n"
    "in the naming database of the working directory (name_db, ic_id_counter,\n"
    "name_counter, written there) and reports the ic id it was given.\n"
    "  --help     this text (touches no file)\n"
    "  --version  the version\n";

int main(int argc, char** argv) {
  if (formdecode::answer_console_request(argc, argv, "tagwell", usage, std::cout)) return 0;
  int status = 0;
  try {
    tagwell::run(tagwell::request_kind, std::cout);
  } catch (const formdecode::run_exit& e) {
    status = e.status;
  }
  std::cout.flush();
  return status;
}
