// Form decoder: turns the query string of a GET request and the body of a
// POST request into fields of the field store ("WWW_" + field name).
//
// A request that carries no query, or a POST request that cannot be read,
// ends the run (`run_exit` with status 1) after writing its error page. In
// its messages the decoder calls itself "formpump".
#pragma once

#include <istream>
#include <optional>
#include <string>

#include "formdecode/field_store.h"
#include "formdecode/page.h"

namespace formdecode {

/// What the web server hands a CGI program: four variables and the body.
struct request {
  std::optional<std::string> query_string;    // QUERY_STRING
  std::optional<std::string> request_method;  // REQUEST_METHOD
  std::optional<std::string> content_type;    // CONTENT_TYPE
  std::optional<std::string> content_length;  // CONTENT_LENGTH
  std::istream* body = nullptr;               // standard input (POST body)

  /// The request of this process: its environment and standard input.
  static request from_environment(std::istream& body);
};

/// Largest POST body accepted; a longer announced body is refused like one
/// that does not fit in memory.
constexpr long long max_post_length = 64LL * 1024 * 1024;

/// Decodes the form of `rq` into `fields`. Returns when a query was found;
/// otherwise writes the error page and throws `run_exit{1}`.
void decode_form(const request& rq, field_store& fields, page& pg);

/// Calls `stuffenv` for each pair of a URL-encoded text between ampersands.
/// Splitting comes before decoding, so an encoded ampersand stays in its
/// value.
void split_pairs(std::string_view text, field_store& fields, page& pg);

/// Decodes one pair (name, equals sign, value) and stores it. A name that
/// begins with an underscore marks a cleaned field: the underscore is
/// dropped and the value's white space and line ends are tidied. `pg` gets
/// the system-error page when memory runs out.
void stuffenv(std::string_view pair, field_store& fields, page& pg);

/// Decodes plus signs and percent escapes; never longer than the input.
std::string url_unescape(std::string_view pair);

/// Reads the POST body announced by `rq`; ends the run on a bad request.
std::string postread(const request& rq, page& pg);

/// Writes the system-error page naming `tag` and the text of system error
/// number `err`, then throws `run_exit{1}`.
[[noreturn]] void query_error(page& pg, std::string_view tag, int err);

}  // namespace formdecode
