// Console options of the programs.
#include "formdecode/console.h"

#include <getopt.h>

#include <cstdlib>

#include "project_version.h"

namespace formdecode {

std::string_view project_version() { return project_version_text; }

console_option console_request(int argc, const char* const* argv) {
  if (argc != 2 || std::getenv("GATEWAY_INTERFACE") || std::getenv("REQUEST_METHOD")) {
    return console_option::none;
  }
  // Read by getopt_long, as every program's options are: a long option may
  // be shortened while it stays unambiguous ("--vers"). Its own copy of the
  // pointers, so the caller's argv is never permuted.
  const option table[] = {{"help", no_argument, nullptr, 'h'},
                          {"version", no_argument, nullptr, 'v'},
                          {nullptr, 0, nullptr, 0}};
  char* args[] = {const_cast<char*>(argv[0]), const_cast<char*>(argv[1]), nullptr};
  optind = 0;  // start afresh
  opterr = 0;  // anything else is no console request, and says nothing
  int code = getopt_long(2, args, "+", table, nullptr);
  bool alone = getopt_long(2, args, "+", table, nullptr) == -1 && optind == 2;
  optind = 0;
  if (!alone) return console_option::none;
  if (code == 'h') return console_option::help;
  if (code == 'v') return console_option::version;
  return console_option::none;
}

std::string version_line(std::string_view program) {
  return std::string(program) + " " + std::string(project_version()) + "\n";
}

bool answer_console_request(int argc, const char* const* argv, std::string_view program,
                            std::string_view usage, std::ostream& out) {
  switch (console_request(argc, argv)) {
    case console_option::help:
      out << usage;
      return true;
    case console_option::version:
      out << version_line(program);
      return true;
    case console_option::none:
      break;
  }
  return false;
}

}  // namespace formdecode
