// Small text helpers shared by every module, on the standard library alone.
// Characters are bytes and classes are those of the "C" locale, whatever
// locale the process runs in.
#pragma once

#include <charconv>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace text {

/// White space: blank, tab, line feed, vertical tab, form feed, carriage
/// return.
constexpr bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// A blank within a line: space or tab.
constexpr bool is_blank(char c) { return c == ' ' || c == '\t'; }

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

/// A letter or a digit of ASCII.
constexpr bool is_alnum(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/// True when `s` is one digit or more and nothing else.
constexpr bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!is_digit(c)) return false;
  }
  return true;
}

/// The value of a hexadecimal digit (either case), or -1.
constexpr int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/// `s` with the letters A-Z made small; other bytes as they are.
inline std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

/// The number that is the whole of `s`, when it lies in [min, max]:
/// decimal digits, with a leading '-' only where `min` is below 0, nothing
/// else (no '+', no white space). Nothing when `s` is anything else or the
/// number does not fit.
template <std::integral T>
std::optional<T> parse_number(std::string_view s, T min, T max) {
  if (s.starts_with('-') && !(min < 0)) return std::nullopt;
  T v{};
  const char* end = s.data() + s.size();
  auto [stop, ec] = std::from_chars(s.data(), end, v);
  if (s.empty() || ec != std::errc() || stop != end || v < min || v > max) return std::nullopt;
  return v;
}

/// The decimal number at the start of `s`, read as the C library's strtoll
/// reads it: leading white space and one sign ('+' or '-') allowed, the
/// digits then taken as far as they go and the rest ignored. 0 when no digit
/// follows; an overflow gives the nearest limit of `long long` and sets
/// `*overflow` (when given).
inline long long leading_number(std::string_view s, bool* overflow = nullptr) {
  size_t i = 0;
  while (i < s.size() && is_space(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  unsigned long long magnitude = 0;
  const char* first = s.data() + i;
  auto [stop, ec] = std::from_chars(first, s.data() + s.size(), magnitude);
  if (overflow) *overflow = false;
  if (stop == first) return 0;
  constexpr unsigned long long most = 9223372036854775807ULL;
  if (ec == std::errc::result_out_of_range || magnitude > most + (negative ? 1 : 0)) {
    if (overflow) *overflow = true;
    return negative ? -static_cast<long long>(most) - 1 : static_cast<long long>(most);
  }
  if (negative) return magnitude == most + 1 ? -static_cast<long long>(most) - 1
                                             : -static_cast<long long>(magnitude);
  return static_cast<long long>(magnitude);
}

/// The lines of `s`, each without its line feed and a carriage return before
/// it (files written elsewhere read the same). A last line without a line
/// feed is a line; an empty text has none.
inline std::vector<std::string_view> split_lines(std::string_view s) {
  std::vector<std::string_view> lines;
  while (!s.empty()) {
    size_t e = s.find('\n');
    std::string_view line = s.substr(0, e);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    s = e == std::string_view::npos ? std::string_view() : s.substr(e + 1);
  }
  return lines;
}

/// True when `s` holds no line feed or carriage return.
constexpr bool is_one_line(std::string_view s) { return s.find_first_of("\n\r") == s.npos; }

/// A field kept on one line of a file: every line feed and carriage return
/// becomes a blank, so the line count stays; nothing else changes.
inline std::string line_ends_as_blanks(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

/// A text shown on one line: each run of blanks and line ends becomes one
/// blank, other control bytes go, no blank at either end, and at most
/// `most` bytes.
inline std::string one_line(std::string_view s, size_t most = 300) {
  std::string line;
  for (char c : s) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) {
      line += c;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.size() > most) line.resize(most);
  return line;
}

}  // namespace text
