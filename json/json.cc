// Writing JSON values, and the UTF-8 check behind every text.
#include "json/json.h"

namespace json {
namespace {

constexpr const char* replacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0
// when it does not start with one.
size_t sequence_length(std::string_view s) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b = byte(0);
  if (b < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;  // no overlong forms
    if (b == 0xED) hi = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;  // no overlong forms
    if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return n;
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out += '"';
  while (!text.empty()) {
    unsigned char c = static_cast<unsigned char>(text[0]);
    size_t n = sequence_length(text);
    if (n == 0) {
      out += replacement;
      text.remove_prefix(1);
      continue;
    }
    if (n > 1) {
      out.append(text.substr(0, n));
      text.remove_prefix(n);
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
    text.remove_prefix(1);
  }
  out += '"';
}

std::string quote(std::string_view text) {
  std::string out;
  append_quoted(out, text);
  return out;
}

void writer::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

writer& writer::begin_object() {
  before_value();
  out_ += '{';
  first_.push_back(true);
  return *this;
}

writer& writer::end_object() {
  first_.pop_back();
  out_ += '}';
  return *this;
}

writer& writer::begin_array() {
  before_value();
  out_ += '[';
  first_.push_back(true);
  return *this;
}

writer& writer::end_array() {
  first_.pop_back();
  out_ += ']';
  return *this;
}

writer& writer::key(std::string_view name) {
  before_value();
  append_quoted(out_, name);
  out_ += ':';
  after_key_ = true;
  return *this;
}

writer& writer::value(std::string_view text) {
  before_value();
  append_quoted(out_, text);
  return *this;
}

writer& writer::value(std::int64_t n) {
  before_value();
  out_ += std::to_string(n);
  return *this;
}

writer& writer::value(bool b) {
  before_value();
  out_ += b ? "true" : "false";
  return *this;
}

writer& writer::null() {
  before_value();
  out_ += "null";
  return *this;
}

writer& writer::value(const std::optional<std::string>& text) {
  return text ? value(std::string_view(*text)) : null();
}

writer& writer::value(const std::vector<std::string>& texts) {
  begin_array();
  for (const std::string& t : texts) value(std::string_view(t));
  return end_array();
}

}  // namespace json
