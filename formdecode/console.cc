// Console options of the programs.
#include "formdecode/console.h"

#include <cstdlib>

#include "project_version.h"

namespace formdecode {

std::string_view project_version() { return project_version_text; }

console_option console_request(int argc, const char* const* argv) {
  if (argc != 2 || std::getenv("GATEWAY_INTERFACE") || std::getenv("REQUEST_METHOD")) {
    return console_option::none;
  }
  std::string_view arg = argv[1];
  if (arg == "--help") return console_option::help;
  if (arg == "--version") return console_option::version;
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
