// Writing JSON values, and the UTF-8 check behind every text.
#include "json/json.h"

#include <cstdlib>

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
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
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

const value* value::get(std::string_view name) const {
  for (const auto& m : members_) {
    if (m.first == name) return &m.second;
  }
  return nullptr;
}

std::optional<std::string> value::text_of(std::string_view name) const {
  const value* v = get(name);
  if (!v || v->type() != kind::text) return std::nullopt;
  return v->text();
}

// A recursive descent over the text, one value at a time.
class reader {
 public:
  explicit reader(std::string_view t) : t_(t) {}

  std::optional<value> whole(std::string* err) {
    std::optional<value> v = read_value(0);
    blanks();
    if (v && at_ != t_.size()) fail("text after the value");
    if (!err_.empty()) {
      if (err) *err = "byte " + std::to_string(at_) + ": " + err_;
      return std::nullopt;
    }
    return v;
  }

 private:
  // Deeper nesting than any answer has is refused, so the stack stays small.
  static constexpr int max_depth = 64;

  void fail(const std::string& why) {
    if (err_.empty()) err_ = why;
  }
  void blanks() {
    while (at_ < t_.size() &&
           (t_[at_] == ' ' || t_[at_] == '\t' || t_[at_] == '\n' || t_[at_] == '\r')) {
      ++at_;
    }
  }
  bool take(char c) {
    blanks();
    if (at_ < t_.size() && t_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool word(std::string_view w) {
    if (t_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  static void append_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::optional<unsigned> hex4() {
    if (at_ + 4 > t_.size()) return std::nullopt;
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = t_[at_++];
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return v;
  }

  std::optional<std::string> read_string() {
    std::string out;
    ++at_;  // the opening quote
    while (at_ < t_.size()) {
      char c = t_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) break;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= t_.size()) break;
      char e = t_[at_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::optional<unsigned> cp = hex4();
          if (!cp) {
            fail("a bad \\u escape");
            return std::nullopt;
          }
          if (*cp >= 0xD800 && *cp <= 0xDBFF && word("\\u")) {
            std::optional<unsigned> lo = hex4();
            if (lo && *lo >= 0xDC00 && *lo <= 0xDFFF) {
              append_utf8(out, 0x10000 + ((*cp - 0xD800) << 10) + (*lo - 0xDC00));
              break;
            }
            cp = 0xFFFD;
          }
          if (*cp >= 0xD800 && *cp <= 0xDFFF) cp = 0xFFFD;
          append_utf8(out, *cp);
          break;
        }
        default:
          fail("a bad escape");
          return std::nullopt;
      }
    }
    fail("a string that does not end");
    return std::nullopt;
  }

  std::optional<value> read_value(int depth) {
    blanks();
    if (depth > max_depth) {
      fail("nested too deep");
      return std::nullopt;
    }
    if (at_ >= t_.size()) {
      fail("a value is missing");
      return std::nullopt;
    }
    value v;
    char c = t_[at_];
    if (c == '{') {
      ++at_;
      v.kind_ = value::kind::object;
      if (take('}')) return v;
      do {
        blanks();
        if (at_ >= t_.size() || t_[at_] != '"') {
          fail("a member name is missing");
          return std::nullopt;
        }
        std::optional<std::string> name = read_string();
        if (!name) return std::nullopt;
        if (!take(':')) {
          fail("':' is missing");
          return std::nullopt;
        }
        std::optional<value> m = read_value(depth + 1);
        if (!m) return std::nullopt;
        v.members_.emplace_back(std::move(*name), std::move(*m));
      } while (take(','));
      if (!take('}')) fail("'}' is missing");
      return err_.empty() ? std::optional<value>(std::move(v)) : std::nullopt;
    }
    if (c == '[') {
      ++at_;
      v.kind_ = value::kind::array;
      if (take(']')) return v;
      do {
        std::optional<value> e = read_value(depth + 1);
        if (!e) return std::nullopt;
        v.items_.push_back(std::move(*e));
      } while (take(','));
      if (!take(']')) fail("']' is missing");
      return err_.empty() ? std::optional<value>(std::move(v)) : std::nullopt;
    }
    if (c == '"') {
      std::optional<std::string> s = read_string();
      if (!s) return std::nullopt;
      v.kind_ = value::kind::text;
      v.text_ = std::move(*s);
      return v;
    }
    if (word("null")) return v;
    if (word("true") || word("false")) {
      v.kind_ = value::kind::boolean;
      v.number_ = t_[at_ - 1] == 'e' && t_[at_ - 2] == 'u' ? 1 : 0;
      return v;
    }
    size_t end = t_.find_first_not_of("+-0123456789.eE", at_);
    std::string number(t_.substr(at_, end == std::string_view::npos ? t_.size() - at_ : end - at_));
    char* stop = nullptr;
    v.number_ = std::strtod(number.c_str(), &stop);
    if (number.empty() || stop != number.c_str() + number.size()) {
      fail("not a value");
      return std::nullopt;
    }
    v.kind_ = value::kind::number;
    at_ += number.size();
    return v;
  }

  std::string_view t_;
  size_t at_ = 0;
  std::string err_;
};

std::optional<value> parse(std::string_view text, std::string* err) {
  return reader(text).whole(err);
}

}  // namespace json
