// Reading the query-site table and choosing the query sites.
#include "site/site_table.h"

#include <cctype>
#include <cstdlib>

#include "engine/store_text.h"
#include "text/text.h"

namespace site {
namespace {

// Hands out the white-space separated tokens of a text one by one.
class tokens {
 public:
  explicit tokens(std::string_view text) : text_(text) {}

  std::optional<std::string_view> next() {
    while (pos_ < text_.size() && text::is_space(text_[pos_])) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ >= text_.size()) return std::nullopt;
    size_t start = pos_;
    while (pos_ < text_.size() && !text::is_space(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  /// The line of the last token handed out (at the end: the last line).
  int line() const { return line_; }

 private:
  int line_ = 1;
  std::string_view text_;
  size_t pos_ = 0;
};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<site_table> site_table::parse(std::string_view text, std::string* err,
                                            int* err_line) {
  tokens in(text);
  auto fail = [&](std::string why) -> std::optional<site_table> {
    if (err) *err = std::move(why);
    if (err_line) *err_line = in.line();
    return std::nullopt;
  };
  // The next token as a number; `what` names it in the error.
  auto number = [&](const std::string& what, int* v) -> bool {
    std::optional<std::string_view> t = in.next();
    if (!t) {
      fail("the file ends before " + what);
      return false;
    }
    std::optional<int> n = engine::parse_int(*t);
    if (!n) {
      fail(what + " is not a number: " + std::string(*t));
      return false;
    }
    *v = *n;
    return true;
  };

  int n = 0;
  if (!number("the number of sites", &n)) return std::nullopt;
  if (n < 0 || n > max_sites) {
    return fail("the number of sites " + std::to_string(n) + " is not between 0 and " +
                std::to_string(max_sites));
  }

  site_table t;
  t.names_.resize(static_cast<size_t>(n));
  std::vector<bool> named(static_cast<size_t>(n), false);
  for (int k = 0; k < n; ++k) {
    int index = 0;
    if (!number("the index of site entry " + std::to_string(k + 1), &index)) return std::nullopt;
    if (index < 0 || index >= n) {
      return fail("site index " + std::to_string(index) + " is out of range");
    }
    if (named[static_cast<size_t>(index)]) {
      return fail("site index " + std::to_string(index) + " is given twice");
    }
    std::optional<std::string_view> name = in.next();
    if (!name) return fail("the file ends before the name of site " + std::to_string(index));
    if (name->size() > max_site_name_length) {
      return fail("site name " + std::string(*name) + " is longer than " +
                  std::to_string(max_site_name_length) + " characters");
    }
    t.names_[static_cast<size_t>(index)] = std::string(*name);
    named[static_cast<size_t>(index)] = true;
  }

  t.distances_.resize(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      std::string what =
          "the distance from site " + std::to_string(i) + " to site " + std::to_string(j);
      if (!number(what, &t.distances_[static_cast<size_t>(i * n + j)])) return std::nullopt;
    }
  }
  return t;
}

std::optional<int> site_table::find(std::string_view name) const {
  for (int i = 0; i < count(); ++i) {
    if (equal_ignoring_case(names_[static_cast<size_t>(i)], name)) return i;
  }
  return std::nullopt;
}

std::vector<std::string> site_table::near_sites(int from, int threshold) const {
  std::vector<std::string> near;
  for (int j = 0; j < count(); ++j) {
    int d = distance(from, j);
    if (d > 0 && d < threshold) near.push_back(name(j));
  }
  return near;
}

int site_index(const site_table& table, std::string_view name, formdecode::output& out) {
  std::optional<int> i = table.find(name);
  if (!i) {
    out.both("Invalid site name:%s\n", name);
    throw formdecode::run_exit{1};
  }
  return *i;
}

std::vector<std::string> query_sites(const site_table& table, std::string_view orv_id,
                                     int vg_threshold, formdecode::output& out) {
  return table.near_sites(site_index(table, orv_id, out), vg_threshold);
}

}  // namespace site
