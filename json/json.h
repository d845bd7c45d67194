// JSON: a writer that puts values in order into a text, with the commas
// and quotes JSON needs, and a reader that gives a text back as values. Texts are always written as
// valid UTF-8: a byte that does not begin or continue a well-formed UTF-8 sequence (an overlong
// form, a surrogate, a code point above U+10FFFF, a sequence cut short) becomes U+FFFD, so a reader
// that insists on UTF-8 reads every answer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace json {

/// `text` as a JSON string, quotes included.
std::string quote(std::string_view text);

/// Appends `text` as a JSON string to `out`.
void append_quoted(std::string& out, std::string_view text);

/// Writes one JSON value (objects and arrays nest) into a text. Calls must
/// form a value: a `key` before each member of an object, nothing else.
class writer {
 public:
  explicit writer(std::string& out) : out_(out) {}

  writer& begin_object();
  writer& end_object();
  writer& begin_array();
  writer& end_array();
  /// The name of the next member of the current object.
  writer& key(std::string_view name);

  writer& value(std::string_view text);
  writer& value(const char* text) { return value(std::string_view(text)); }
  writer& value(const std::string& text) { return value(std::string_view(text)); }
  writer& value(std::int64_t n);
  writer& value(int n) { return value(static_cast<std::int64_t>(n)); }
  writer& value(bool b);
  writer& null();
  /// A text, or null for none.
  writer& value(const std::optional<std::string>& text);
  /// An array of texts.
  writer& value(const std::vector<std::string>& texts);

  /// `key(name)` and `value(v)`.
  template <class T>
  writer& member(std::string_view name, const T& v) {
    key(name);
    return value(v);
  }

 private:
  void before_value();

  std::string& out_;
  std::vector<bool> first_;  // per open object or array: no member written yet
  bool after_key_ = false;   // a key was written; its value comes next
};

/// One value read from a JSON text.
class value {
 public:
  enum class kind { null, boolean, number, text, array, object };

  kind type() const { return kind_; }
  bool is_null() const { return kind_ == kind::null; }
  /// The text of a string; empty for any other kind.
  const std::string& text() const { return text_; }
  /// The number (or 0); a boolean as 0 or 1.
  double number() const { return number_; }
  /// The elements of an array; none for any other kind.
  const std::vector<value>& items() const { return items_; }
  /// The member `name` of an object, or null when there is none.
  const value* get(std::string_view name) const;
  /// The text of member `name`, or nothing when it is absent or no string.
  std::optional<std::string> text_of(std::string_view name) const;

 private:
  friend class reader;
  kind kind_ = kind::null;
  std::string text_;
  double number_ = 0;
  std::vector<value> items_;                            // array elements
  std::vector<std::pair<std::string, value>> members_;  // object members, in order
};

/// Reads a whole JSON text; nothing, with `*err` saying where and what,
/// when it is not one JSON value (blanks around it aside).
std::optional<value> parse(std::string_view text, std::string* err);

}  // namespace json
