// Page and trace: the two outputs of a run.
//
// The page is the HTML answer on standard output; the trace is the file
// `dump_file`, written without buffering so that it is complete up to the
// point where a run stops. Text of the system (fixed message texts) is
// written as it stands; values inserted into a message are HTML-escaped on
// the page by default and written raw to the trace. A run ends by throwing
// `run_exit`, which only `main` catches; `main` then flushes both outputs and
// returns the status.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace formdecode {

/// Thrown to end a run with an exit status; caught only in a program's main.
struct run_exit {
  int status;  // process exit status (-1 is seen as 255)
};

/// One value inserted into a printf-style message text.
class fmt_arg {
 public:
  enum class kind { integer, floating, text };

  fmt_arg(int v) : kind_(kind::integer), i_(v) {}
  fmt_arg(long v) : kind_(kind::integer), i_(v) {}
  fmt_arg(long long v) : kind_(kind::integer), i_(v) {}
  fmt_arg(unsigned v) : kind_(kind::integer), i_(v) {}
  fmt_arg(char v) : kind_(kind::integer), i_(static_cast<unsigned char>(v)) {}
  fmt_arg(double v) : kind_(kind::floating), f_(v) {}
  fmt_arg(float v) : kind_(kind::floating), f_(v) {}
  fmt_arg(std::string_view v) : kind_(kind::text), s_(v) {}
  fmt_arg(const std::string& v) : kind_(kind::text), s_(v) {}
  fmt_arg(const char* v) : kind_(kind::text), s_(v ? v : "(null)") {}

  kind type() const { return kind_; }
  long long integer() const;
  double floating() const;
  std::string_view text() const { return s_; }

 private:
  kind kind_;
  long long i_ = 0;     // integer and character values
  double f_ = 0;        // floating values
  std::string_view s_;  // text values (not owned: lives for one call)
};

/// Formats `fmt` as printf would for the conversions d, i, u, ld, c, s, f,
/// e, g, x and %% (with flags, width and precision). Text values are passed
/// through `escape_text` when it is true.
std::string format(std::string_view fmt, std::initializer_list<fmt_arg> args, bool escape_text);

/// `&`, `<`, `>` and `"` as HTML entities; all other bytes unchanged.
std::string html_escape(std::string_view text);

/// A stream buffer that keeps a copy of everything written through it and
/// passes it on to `next` as it comes (with no `next` it only keeps it):
/// the page goes out while it is written and is still there to be read.
class page_copy : public std::streambuf {
 public:
  explicit page_copy(std::streambuf* next) : next_(next) {}

  /// Everything written so far.
  const std::string& text() const { return text_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  std::streambuf* next_;  // where the text goes on to, or null
  std::string text_;
};

/// The HTML page of a run, over any output stream.
class page {
 public:
  explicit page(std::ostream& out) : out_(out) {}

  /// Writes a fixed text of the system unchanged.
  void write(std::string_view fixed) { out_ << fixed; }

  /// Writes a message text with its inserted values HTML-escaped.
  template <class... A>
  void print(std::string_view fmt, const A&... args) {
    out_ << format(fmt, {fmt_arg(args)...}, true);
  }

  /// Writes a message text whose inserted values are markup that the system
  /// made itself (never request or file data): nothing is escaped.
  template <class... A>
  void print_markup(std::string_view fmt, const A&... args) {
    out_ << format(fmt, {fmt_arg(args)...}, false);
  }

  void flush() { out_.flush(); }
  std::ostream& stream() { return out_; }

 private:
  std::ostream& out_;
};

/// The trace file `dump_file`. Unbuffered, every write goes straight to
/// the file. Buffered, writes are gathered and written in large pieces;
/// what is gathered is written when the trace is flushed or closed (also
/// by its destructor and by a `trace_guard`), and when the program
/// terminates on an uncaught exception, so a run leaves its whole trace
/// on every path that does not kill the process.
class trace {
 public:
  trace() = default;
  ~trace();
  trace(const trace&) = delete;
  trace& operator=(const trace&) = delete;

  /// Opens (and empties) the trace file; false when it cannot be opened.
  bool open(const std::string& path, bool buffered = false);
  bool is_open() const { return fd_ >= 0; }
  /// Writes what is gathered, then closes the file.
  void close();
  /// Writes what is gathered.
  void flush();

  /// Writes raw text; nothing happens while the file is not open.
  void write(std::string_view text);

  template <class... A>
  void print(std::string_view fmt, const A&... args) {
    write(format(fmt, {fmt_arg(args)...}, false));
  }

 private:
  void write_through(std::string_view text);

  int fd_ = -1;          // open trace file, or -1
  bool buffered_ = false;
  std::string pending_;  // gathered, not yet written
};

/// Closes a trace, writing what it gathered, when the scope ends. Declared
/// right after a run lock, it has the trace whole in its file before the
/// lock lets the next run open (and empty) it.
class trace_guard {
 public:
  explicit trace_guard(trace& t) : t_(t) {}
  ~trace_guard() { t_.close(); }
  trace_guard(const trace_guard&) = delete;
  trace_guard& operator=(const trace_guard&) = delete;

 private:
  trace& t_;
};

/// Both outputs of a run, and the rule for trace lines.
class output {
 public:
  explicit output(std::ostream& page_out) : page_(page_out) {}

  page& pg() { return page_; }
  trace& tr() { return trace_; }

  /// A trace line: to the page (values escaped), followed there by " <br>"
  /// when page tails are on, and to the trace raw without the tail.
  template <class... A>
  void trace_line(std::string_view fmt, const A&... args) {
    trace_line_text(format(fmt, {fmt_arg(args)...}, true),
                    format(fmt, {fmt_arg(args)...}, false));
  }

  /// The same message to the page (values escaped) and to the trace (raw),
  /// without a page tail.
  template <class... A>
  void both(std::string_view fmt, const A&... args) {
    page_.print(fmt, args...);
    trace_.print(fmt, args...);
  }

  /// Whether trace lines on the page end with " <br>" (on by default).
  void set_page_tails(bool on) { page_tails_ = on; }
  bool page_tails() const { return page_tails_; }

  /// Flushes the page and closes the trace; called once when a run ends.
  void finish();

 private:
  void trace_line_text(const std::string& for_page, const std::string& for_trace);

  page page_;
  trace trace_;
  bool page_tails_ = true;  // " <br>" after trace lines on the page
};

/// Writes "Content-type: text/html\n\n", the header of every CGI page.
void print_header(page& pg);

}  // namespace formdecode
