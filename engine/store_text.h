// Line-oriented text of the cell store: a writer that builds the store in
// memory and a reader that takes it apart line by line, counting lines so
// that a damaged store can be reported where it breaks.
//
// Stored texts are one line each. A text that one line cannot carry (it
// holds a line break or a carriage return), or that would read back as
// something else (a text that begins with the marker below), is written as
// an encoded line: the marker "%%" followed by the text with "%", line feed
// and carriage return written as "%25", "%0A" and "%0D". Every other text
// is written as it is, so stores without such texts read exactly as
// before. Where a text may be absent, "NULL" marks the absent one, and the
// present text "NULL" is written the same: it means nothing given.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

/// Marks an encoded line.
inline constexpr std::string_view encoded_marker = "%%";

/// True when `text` cannot be stored as it is on one line.
bool needs_encoding(std::string_view text);

/// `text` in its one-line stored form: unchanged, or encoded.
std::string encode_text(std::string_view text);

/// `text` encoded, whatever it holds.
std::string force_encode_text(std::string_view text);

/// The text a stored line stands for.
std::string decode_text(std::string_view line);

/// A store that does not read as the format says.
struct store_error {
  int line = 0;      // 1-based number of the offending line
  std::string what;  // what was expected there
};

/// The next line of `text` from `*pos`, without its line feed and a
/// carriage return before it; `*pos` moves past the line. None at the end
/// of the text. Every reader of line-oriented files splits them so. (Here,
/// so that it is inlined: a load reads every line of a store through it.)
inline std::optional<std::string_view> next_line(std::string_view text, size_t* pos) {
  if (*pos >= text.size()) return std::nullopt;
  const char* begin = text.data() + *pos;
  const size_t rest = text.size() - *pos;
  const void* end = std::memchr(begin, '\n', rest);
  size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - begin) : rest;
  *pos += end ? length + 1 : length;
  if (length > 0 && begin[length - 1] == '\r') --length;
  return std::string_view(begin, length);
}

/// Builds the text of a store.
class store_writer {
 public:
  /// Makes room for a text of `bytes` in one piece.
  void reserve(size_t bytes);
  /// Builds the text in the room of `spent`, a text no longer needed, so
  /// that no fresh memory is taken for it.
  void reuse(std::string&& spent) {
    text_ = std::move(spent);
    text_.clear();
  }
  size_t capacity() const { return text_.capacity(); }
  /// Empties the text, keeping its room.
  void clear() { text_.clear(); }
  /// Hands the text over; the writer is left empty.
  std::string take() {
    std::string t = std::move(text_);
    text_.clear();
    return t;
  }
  /// A line written as it is (a line feed is added).
  void line(std::string_view raw);
  /// A line of `label` followed by `value` as it is.
  void labelled(std::string_view label, std::string_view value);
  /// A line of `label` followed by the number `v`.
  void labelled(std::string_view label, long long v);
  void number(long long v);
  /// Several numbers separated by one space.
  void numbers(std::initializer_list<long long> v);
  /// A text in its one-line form.
  void text(std::string_view t);
  /// A text, or "NULL" when absent (the text "NULL" reads back absent).
  void optional_text(const std::optional<std::string>& t);
  /// One character; NUL, and a line break that one line cannot carry, are
  /// written as an empty line (no mark).
  void character(char c);
  /// A float with six decimals.
  void fuzzy(float f);

  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

/// Reads a store line by line. Every read that does not find what the
/// format requires throws `store_error`.
class store_reader {
 public:
  explicit store_reader(std::string_view data) : data_(data) {}

  bool at_end() const { return pos_ >= data_.size(); }
  /// The offset of the next line in the text.
  size_t position() const { return pos_; }
  /// True when the next line begins with `prefix`.
  bool next_line_begins(std::string_view prefix) const {
    return data_.substr(pos_, prefix.size()) == prefix;
  }
  /// The number of the last line read.
  int line_number() const { return line_no_; }

  /// The next line without its line end; `what` names it when missing.
  std::string_view line(std::string_view what);
  /// Passes over the next `count` lines; `what` names them when missing.
  void pass(std::int64_t count, std::string_view what);
  /// The rest of the next line after `label` (which it must begin with).
  std::string_view labelled(std::string_view label);
  /// A line holding one decimal integer.
  std::int32_t number(std::string_view what);
  /// A line holding `count` decimal integers separated by blanks.
  std::vector<std::int32_t> numbers(std::string_view what, size_t count);
  /// A text line as it stands (decoded when encoded).
  std::string text(std::string_view what);
  /// A text line without its trailing spaces (decoded when encoded).
  std::string trimmed_text(std::string_view what);
  /// A text line, without its trailing spaces when `trim` is set (decoded
  /// when encoded); "NULL" stands for an absent text.
  std::optional<std::string> optional_text(std::string_view what, bool trim = true);
  /// The first character of a line; an empty line, or one that begins with
  /// a carriage return, gives NUL.
  char character(std::string_view what);
  /// A line holding a decimal fraction.
  float fuzzy(std::string_view what);

  /// Throws `store_error` for the last line read.
  [[noreturn]] void fail(std::string what) const;

 private:
  std::string_view data_;
  size_t pos_ = 0;
  int line_no_ = 0;
};

/// The integer `text` holds: blanks, an optional sign, decimal digits,
/// blanks; none when it holds anything else or does not fit 32 bits.
std::optional<std::int32_t> parse_int(std::string_view text);

/// `s` without its trailing spaces.
std::string_view trim_trailing_spaces(std::string_view s);

}  // namespace engine
