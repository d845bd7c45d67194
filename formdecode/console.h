// Console options: what a program of the project does when a person starts
// it from a command line with --help or --version instead of a web server
// starting it as a CGI program.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace formdecode {

/// The version of the project, which every program reports.
std::string_view project_version();

enum class console_option { none, help, version };

/// The option of a run with exactly one argument, "--help" or "--version"
/// (either shortened while unambiguous, as getopt_long reads long options),
/// that no web server started: neither GATEWAY_INTERFACE nor REQUEST_METHOD
/// is set (a server may hand a query without "=" to a CGI program as its
/// arguments). `none` for every other run, which goes on as it always did.
console_option console_request(int argc, const char* const* argv);

/// "<program> <version>\n".
std::string version_line(std::string_view program);

/// Answers --help (with `usage`) or --version on `out` when the run is
/// such a console request; true when it answered and the program is done.
bool answer_console_request(int argc, const char* const* argv, std::string_view program,
                            std::string_view usage, std::ostream& out);

}  // namespace formdecode
