// Tag language: the scanner shared by page descriptions and page templates,
// and the parser that turns a page description into a `zoa_page`.
//
// The scanner has three modes. TEXT passes every character through as a
// character token and only recognises the "<ZOA...>" tags; TAG (from "<ZOA>"
// or "<ZOA_REL>" to "</ZOA>" or "</ZOA_REL>") also knows the keywords and
// skips blanks and tabs; STRING collects a quoted string. Each scanner works
// on one input text and keeps its own mode and counters, so a page shown in
// the middle of another page's template leaves the outer scan untouched.
#pragma once

#include <deque>
#include <string>
#include <vector>
#include <string_view>

#include "formdecode/page.h"
#include "pages/zoa_page.h"

namespace pages {

enum class scan_mode { text, tag, string };

/// What the scanner keeps between tokens besides its mode.
struct scan_state {
  int line = 0;                      // line breaks seen outside strings
  int column = 1;                    // column counter, see the scanner rules
  std::string last_text;             // text of the last character or string token
  std::deque<std::string> strings;   // values handed to the parser (stable addresses)
  bool too_long = false;             // a token text went over max_token_length
};

/// A scanner over one input text (the text is copied). It starts in TEXT
/// mode on line 0, column 1.
class zoa_scanner {
 public:
  explicit zoa_scanner(std::string_view input);
  ~zoa_scanner();
  zoa_scanner(const zoa_scanner&) = delete;
  zoa_scanner& operator=(const zoa_scanner&) = delete;

  /// The next token code; 0 at the end of the input, tok_too_long when a
  /// token text is longer than max_token_length.
  int next();

  scan_state& state() { return state_; }
  const scan_state& state() const { return state_; }
  scan_mode mode() const;

  /// The generated scanner (a `yyscan_t`), for the parser.
  void* handle() const { return scanner_; }

 private:
  scan_state state_;        // counters and values, the scanner's extra data
  void* scanner_ = nullptr; // the generated reentrant scanner
};

/// Writes "Syntax Error -- Line:%d, Column:%d -- %s\n" with the scanner's
/// current counters.
void write_error_line(formdecode::page& pg, const scan_state& st, std::string_view text);

/// A syntax error of a page description, where the scanner stood.
struct syntax_error {
  int line = 0;
  int column = 0;
  std::string message;
  /// Its error line, as the page says it.
  std::string text() const;
};

/// What the parser's actions write into: the descriptor and the link being
/// read.
struct page_parse {
  zoa_page& page;          // the descriptor being filled
  formdecode::page& pg;    // where the error line goes
  scan_state& st;          // counters for the error line
  zoa_link current_link;   // the "<ZOA_LINKS>" element being read
  std::vector<syntax_error>* errors = nullptr;  // where the errors are noted too, if anywhere

  /// "<ZOA>" read: every field but `db_access` starts again empty.
  void begin_page();
  /// "<ZOA_LINKS>" read: a new empty link is current.
  void begin_link() { current_link = zoa_link{}; }
  /// "</ZOA_LINKS>" read: the current link goes to the front of the list.
  void end_link();
  /// "<ZOA_IC>" read: a new empty form replaces any earlier one.
  void begin_form() { page.form = ic_form{}; }
  /// The form being read.
  ic_form& form() { return *page.form; }
  /// A prompt "?" followed by `text`, kept for the parse; null stays null.
  const std::string* make_prompt(const std::string* text);
  /// Reports a parser error (bison's message) with the error line.
  void error(std::string_view message);
};

/// Sets `field` to a copy of `value`, or to null when `value` is null.
void assign(std::optional<std::string>& field, const std::string* value);

/// Parses one page description from `sc` into `page`, which the caller has
/// reset. Returns 0 on success and 1 after a syntax error, which is reported
/// with the error line on `pg`; what the actions stored before it stays.
int parse_page(zoa_scanner& sc, zoa_page& page, formdecode::page& pg);

/// The syntax errors of the page description `text`, in the order found;
/// nothing is written.
std::vector<syntax_error> syntax_errors(std::string_view text);

}  // namespace pages
