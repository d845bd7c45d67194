#include "engine/store_text.h"

#include "text/text.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace engine {
namespace {

}  // namespace

bool needs_encoding(std::string_view text) {
  if (text.starts_with(encoded_marker)) return true;
  // Every stored text passes here on each save: one plain pass.
  for (char c : text) {
    if (c == '\n' || c == '\r') return true;
  }
  return false;
}

std::string force_encode_text(std::string_view text) {
  std::string out(encoded_marker);
  for (char c : text) {
    if (c == '%') {
      out += "%25";
    } else if (c == '\n') {
      out += "%0A";
    } else if (c == '\r') {
      out += "%0D";
    } else {
      out += c;
    }
  }
  return out;
}

std::string encode_text(std::string_view text) {
  return needs_encoding(text) ? force_encode_text(text) : std::string(text);
}

std::string decode_text(std::string_view line) {
  if (!line.starts_with(encoded_marker)) return std::string(line);
  line.remove_prefix(encoded_marker.size());
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '%' && i + 2 < line.size() && text::hex_value(line[i + 1]) >= 0 &&
        text::hex_value(line[i + 2]) >= 0) {
      out += static_cast<char>(text::hex_value(line[i + 1]) * 16 + text::hex_value(line[i + 2]));
      i += 2;
    } else {
      out += line[i];
    }
  }
  return out;
}

std::optional<std::int32_t> parse_int(std::string_view text) {
  size_t p = 0;
  while (p < text.size() && text::is_blank(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  const size_t digits = p;
  long long v = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    v = v * 10 + (text[p++] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (p == digits) return std::nullopt;
  while (p < text.size() && text::is_blank(text[p])) ++p;
  if (p != text.size()) return std::nullopt;
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return std::nullopt;
  return static_cast<std::int32_t>(v);
}

std::string_view trim_trailing_spaces(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// --- writer --------------------------------------------------------------

void store_writer::reserve(size_t bytes) { text_.reserve(bytes); }

void store_writer::line(std::string_view raw) {
  text_ += raw;
  text_ += '\n';
}

namespace {

// Appends the decimal form of `v`.
void append_number(std::string& text, long long v) {
  char buf[24];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v);
  text.append(buf, static_cast<size_t>(r.ptr - buf));
}

}  // namespace

void store_writer::labelled(std::string_view label, std::string_view value) {
  text_ += label;
  text_ += value;
  text_ += '\n';
}

void store_writer::labelled(std::string_view label, long long v) {
  text_ += label;
  append_number(text_, v);
  text_ += '\n';
}

void store_writer::number(long long v) {
  append_number(text_, v);
  text_ += '\n';
}

void store_writer::numbers(std::initializer_list<long long> v) {
  bool first = true;
  for (long long n : v) {
    if (!first) text_ += ' ';
    first = false;
    append_number(text_, n);
  }
  text_ += '\n';
}

void store_writer::text(std::string_view t) {
  if (needs_encoding(t)) {
    line(force_encode_text(t));
  } else {
    line(t);
  }
}

void store_writer::optional_text(const std::optional<std::string>& t) {
  // The text "NULL" is written as it is and reads back absent: the format
  // gives "NULL" that meaning, and the form gives the text the same.
  if (!t) {
    line("NULL");
  } else {
    text(*t);
  }
}

void store_writer::character(char c) {
  line(c == '\0' || c == '\r' || c == '\n' ? std::string() : std::string(1, c));
}

void store_writer::fuzzy(float f) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", static_cast<double>(f));
  line(buf);
}

// --- reader --------------------------------------------------------------

void store_reader::fail(std::string what) const { throw store_error{line_no_, std::move(what)}; }

std::string_view store_reader::line(std::string_view what) {
  ++line_no_;
  std::optional<std::string_view> l = next_line(data_, &pos_);
  if (!l) fail("the file ends where " + std::string(what) + " is expected");
  return *l;
}

void store_reader::pass(std::int64_t count, std::string_view what) {
  for (; count > 0; --count) {
    ++line_no_;
    if (!next_line(data_, &pos_)) fail("the file ends where " + std::string(what) + " is expected");
  }
}

// `text` in double quotes. (Built by appending: the optimiser of some
// compilers warns wrongly about overlapping copies in a chain of `+`.)
static std::string quoted(std::string_view text) {
  std::string q;
  q.reserve(text.size() + 2);
  q += '"';
  q.append(text);
  q += '"';
  return q;
}

std::string_view store_reader::labelled(std::string_view label) {
  ++line_no_;
  std::optional<std::string_view> next = next_line(data_, &pos_);
  if (!next) fail("the file ends where " + quoted(label) + " is expected");
  std::string_view l = *next;
  if (l.starts_with(label)) return l.substr(label.size());
  // A label whose value is empty may have lost its trailing space.
  if (!label.empty() && label.back() == ' ' && l == label.substr(0, label.size() - 1)) return {};
  fail(quoted(label) + " is expected");
}

std::int32_t store_reader::number(std::string_view what) {
  std::string_view l = line(what);
  std::optional<std::int32_t> v = parse_int(l);
  if (!v) fail(std::string(what) + " must be a number");
  return *v;
}

std::vector<std::int32_t> store_reader::numbers(std::string_view what, size_t count) {
  std::string_view l = line(what);
  std::vector<std::int32_t> out;
  size_t p = 0;
  while (out.size() < count) {
    while (p < l.size() && text::is_blank(l[p])) ++p;
    size_t e = p;
    while (e < l.size() && !text::is_blank(l[e])) ++e;
    std::optional<std::int32_t> v = e > p ? parse_int(l.substr(p, e - p)) : std::nullopt;
    if (!v) fail(std::string(what) + " must be " + std::to_string(count) + " numbers");
    out.push_back(*v);
    p = e;
  }
  while (p < l.size() && text::is_blank(l[p])) ++p;
  if (p != l.size()) fail(std::string(what) + " must be " + std::to_string(count) + " numbers");
  return out;
}

std::string store_reader::text(std::string_view what) { return decode_text(line(what)); }

std::string store_reader::trimmed_text(std::string_view what) {
  return decode_text(trim_trailing_spaces(line(what)));
}

std::optional<std::string> store_reader::optional_text(std::string_view what, bool trim) {
  std::string_view l = line(what);
  if (trim) l = trim_trailing_spaces(l);
  if (l == "NULL") return std::nullopt;
  return decode_text(l);
}

char store_reader::character(std::string_view what) {
  std::string_view l = line(what);
  // A carriage return belongs to a line end and is never a mark: a line
  // that begins with one reads as no mark, as the writer stores it.
  return l.empty() || l[0] == '\r' ? '\0' : l[0];
}

float store_reader::fuzzy(std::string_view what) {
  std::string l(line(what));
  char* end = nullptr;
  float f = std::strtof(l.c_str(), &end);
  while (end && text::is_blank(*end)) ++end;
  if (end == l.c_str() || *end != '\0') fail(std::string(what) + " must be a number");
  return f;
}

}  // namespace engine
