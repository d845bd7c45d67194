// Form decoding: GET query strings and url-encoded POST bodies.
#include "formdecode/formdecode.h"
#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <cstdlib>
#include <cstring>

namespace formdecode {
namespace {

std::optional<std::string> env(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

// The value of a field whose name began with an underscore: leading and
// trailing white space dropped, every line end made a single line feed.
std::string clean_value(std::string_view value) {
  size_t start = 0;
  while (start < value.size() && text::is_space(value[start])) ++start;
  std::string out;
  for (size_t i = start; i < value.size(); ++i) {
    if (value[i] != '\r') {
      out += value[i];
    } else if (i + 1 < value.size()) {
      out += '\n';
      if (value[i + 1] == '\n') ++i;
    }
    // a carriage return at the very end is dropped
  }
  while (!out.empty() && text::is_space(out.back())) out.pop_back();
  return out;
}

}  // namespace

request request::from_environment(std::istream& body) {
  request rq;
  rq.query_string = env("QUERY_STRING");
  rq.request_method = env("REQUEST_METHOD");
  rq.content_type = env("CONTENT_TYPE");
  rq.content_length = env("CONTENT_LENGTH");
  rq.body = &body;
  return rq;
}

std::string url_unescape(std::string_view pair) {
  std::string out;
  out.reserve(pair.size());
  for (size_t i = 0; i < pair.size(); ++i) {
    char c = pair[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < pair.size() && text::hex_value(pair[i + 1]) >= 0 &&
               text::hex_value(pair[i + 2]) >= 0) {
      out += static_cast<char>(text::hex_value(pair[i + 1]) * 16 + text::hex_value(pair[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

void stuffenv(std::string_view pair, field_store& fields, page& pg) {
  std::string text;
  try {
    text = url_unescape(pair);
  } catch (const std::bad_alloc&) {
    query_error(pg, "stuffenv", ENOMEM);
  }
  // A decoded zero byte ends the text there.
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);

  bool cleaned = false;
  if (!text.empty() && text[0] == '_') {
    cleaned = true;
    text.erase(0, 1);
  }
  size_t eq = text.find('=');
  std::string name = "WWW_" + text.substr(0, eq);
  for (char& c : name)
    if (c == '.') c = '_';
  std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
  if (cleaned && !value.empty()) value = clean_value(value);

  // A repeated field keeps every value: the newest first, joined by "#".
  try {
    fields.repeat(name, value);
  } catch (const std::bad_alloc&) {
    query_error(pg, "stuffenv: append", ENOMEM);
  }
}

void split_pairs(std::string_view text, field_store& fields, page& pg) {
  for (;;) {
    size_t amp = text.find('&');
    stuffenv(text.substr(0, amp), fields, pg);
    if (amp == std::string_view::npos) return;
    text.remove_prefix(amp + 1);
  }
}

std::string postread(const request& rq, page& pg) {
  if (!rq.content_type || *rq.content_type != "application/x-www-form-urlencoded") {
    print_header(pg);
    pg.write("<p>No content type was passed to formpump.</body></html>\n");
    throw run_exit{1};
  }
  if (!rq.content_length) {
    print_header(pg);
    pg.write("<p>The server did not tell formpump how long the request\n");
    pg.write("was.</body></html>\n");
    throw run_exit{1};
  }
  bool overflow = false;
  long long n = text::leading_number(*rq.content_length, &overflow);
  if (n < 0) query_error(pg, "postread", EINVAL);
  if (overflow || n > max_post_length) query_error(pg, "postread", ENOMEM);

  std::string body;
  try {
    body.reserve(static_cast<size_t>(std::min<long long>(n, 1 << 20)) + 1);
  } catch (const std::bad_alloc&) {
    query_error(pg, "postread", ENOMEM);
  }
  if (rq.body) {
    // Read what arrives, up to the announced length; a shorter body is used
    // with the bytes that came.
    char buf[65536];
    while (static_cast<long long>(body.size()) < n) {
      long long want = std::min<long long>(n - static_cast<long long>(body.size()), sizeof buf);
      rq.body->read(buf, want);
      std::streamsize got = rq.body->gcount();
      if (got <= 0) break;
      body.append(buf, static_cast<size_t>(got));
    }
  }
  // The body is a zero-terminated text: a zero byte ends it.
  if (size_t nul = body.find('\0'); nul != std::string::npos) body.resize(nul);
  return body;
}

void query_error(page& pg, std::string_view tag, int err) {
  print_header(pg);
  pg.write("<p>The following error was encountered while processing\n");
  pg.write("your query.\n");
  pg.write("<blockquote>\n");
  pg.print("%s: %s\n", tag, std::strerror(err));
  pg.write("</blockquote>\n");
  pg.write("<p>Please try again later.\n");
  pg.write("</body></html>\n");
  throw run_exit{1};
}

void decode_form(const request& rq, field_store& fields, page& pg) {
  if (rq.query_string && !rq.query_string->empty()) split_pairs(*rq.query_string, fields, pg);

  bool post = rq.request_method && *rq.request_method == "POST";
  if (post) {
    std::string body = postread(rq, pg);
    if (!body.empty()) split_pairs(body, fields, pg);
  }

  if (!rq.query_string && !post) {
    pg.write("<p>The 'formpump' program couldn't find a query to\n");
    pg.write("process.\n\n");
    throw run_exit{1};
  }
}

}  // namespace formdecode
