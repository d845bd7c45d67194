// Page and trace output, and the small printf-style formatter behind them.
#include "formdecode/page.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace formdecode {

long long fmt_arg::integer() const {
  switch (kind_) {
    case kind::integer: return i_;
    case kind::floating: return static_cast<long long>(f_);
    case kind::text: return 0;
  }
  return 0;
}

double fmt_arg::floating() const {
  switch (kind_) {
    case kind::integer: return static_cast<double>(i_);
    case kind::floating: return f_;
    case kind::text: return 0;
  }
  return 0;
}

page_copy::int_type page_copy::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  text_ += traits_type::to_char_type(c);
  if (next_ && traits_type::eq_int_type(next_->sputc(traits_type::to_char_type(c)),
                                        traits_type::eof())) {
    return traits_type::eof();
  }
  return c;
}

std::streamsize page_copy::xsputn(const char* s, std::streamsize n) {
  text_.append(s, static_cast<size_t>(n));
  return next_ ? next_->sputn(s, n) : n;
}

int page_copy::sync() { return next_ ? next_->pubsync() : 0; }

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

// Formats one number with the printf pattern `pattern` (e.g. "%-5ld").
template <class T>
void append_number(std::string& out, const std::string& pattern, T value) {
  char buf[512];
  int n = std::snprintf(buf, sizeof buf, pattern.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buf) {
    out.append(buf, static_cast<size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::snprintf(big.data(), big.size(), pattern.c_str(), value);
  out.append(big.data(), static_cast<size_t>(n));
}

}  // namespace

std::string format(std::string_view fmt, std::initializer_list<fmt_arg> args, bool escape_text) {
  std::string out;
  const fmt_arg* next = args.begin();
  auto take = [&]() -> const fmt_arg* { return next != args.end() ? next++ : nullptr; };
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%') {
      // The text up to the next conversion, in one piece.
      size_t e = fmt.find('%', i);
      if (e == std::string_view::npos) e = fmt.size();
      out.append(fmt.substr(i, e - i));
      i = e - 1;
      continue;
    }
    size_t start = i++;
    // The plain conversions, without flags or width, as most are: the
    // same text as the printf pattern gives, without building one.
    if (i < fmt.size() && (fmt[i] == 'd' || fmt[i] == 's' ||
                           (fmt[i] == 'l' && i + 1 < fmt.size() && fmt[i + 1] == 'd'))) {
      if (fmt[i] == 'l') ++i;
      const fmt_arg* a = take();
      if (fmt[i] == 's' && !a) continue;  // nothing to show
      if (fmt[i] == 'd' || a->type() != fmt_arg::kind::text) {
        char buf[24];
        std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, a ? a->integer() : 0LL);
        out.append(buf, static_cast<size_t>(r.ptr - buf));
        continue;
      }
      // A zero byte inside a value ends it, as it ends a C string.
      std::string_view value = a->text();
      value = value.substr(0, value.find('\0'));
      if (escape_text) {
        out += html_escape(value);
      } else {
        out.append(value);
      }
      continue;
    }
    while (i < fmt.size() && std::string_view("-+ #0").find(fmt[i]) != std::string_view::npos) ++i;
    while (i < fmt.size() && (std::isdigit(static_cast<unsigned char>(fmt[i])) || fmt[i] == '.')) ++i;
    while (i < fmt.size() && (fmt[i] == 'l' || fmt[i] == 'h')) ++i;
    if (i >= fmt.size()) {  // a lone % at the end is copied
      out.append(fmt.substr(start));
      break;
    }
    char conv = fmt[i];
    if (conv == '%') {
      out += '%';
      continue;
    }
    // The pattern without length modifiers; the value decides the C type.
    std::string flags;
    for (size_t k = start; k < i; ++k)
      if (fmt[k] != 'l' && fmt[k] != 'h') flags += fmt[k];
    const fmt_arg* a = take();
    switch (conv) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o':
        append_number(out, flags + "ll" + conv, a ? a->integer() : 0LL);
        break;
      case 'c':
        out += static_cast<char>(a ? a->integer() : 0);
        break;
      case 'f': case 'e': case 'g': case 'E': case 'G':
        append_number(out, flags + conv, a ? a->floating() : 0.0);
        break;
      case 's': {
        std::string value;
        if (a && a->type() == fmt_arg::kind::text) {
          value = std::string(a->text());
        } else if (a) {
          append_number(value, "%lld", a->integer());
        }
        std::string padded;
        append_number(padded, flags + "s", value.c_str());
        // A zero byte inside a value ends it, as it ends a C string.
        out += escape_text ? html_escape(padded) : padded;
        break;
      }
      default:  // an unknown conversion is copied as it stands
        out.append(fmt.substr(start, i - start + 1));
    }
  }
  return out;
}

namespace {

// Gathered writes go out in pieces of about this size.
constexpr size_t trace_piece = 64 * 1024;

// The buffered traces that are open, written out if the program ends on
// an uncaught exception.
std::vector<trace*>& open_buffered_traces() {
  static std::vector<trace*> open;
  return open;
}

std::terminate_handler previous_terminate = nullptr;

[[noreturn]] void flush_then_terminate() {
  for (trace* t : open_buffered_traces()) t->flush();
  if (previous_terminate) previous_terminate();
  std::abort();
}

}  // namespace

trace::~trace() { close(); }

bool trace::open(const std::string& path, bool buffered) {
  close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  buffered_ = buffered && fd_ >= 0;
  if (buffered_) {
    if (!previous_terminate) previous_terminate = std::set_terminate(flush_then_terminate);
    open_buffered_traces().push_back(this);
  }
  return fd_ >= 0;
}

void trace::close() {
  flush();
  if (buffered_) {
    std::vector<trace*>& open = open_buffered_traces();
    open.erase(std::remove(open.begin(), open.end(), this), open.end());
    buffered_ = false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void trace::flush() {
  if (pending_.empty()) return;
  write_through(pending_);
  pending_.clear();
}

void trace::write(std::string_view text) {
  if (fd_ < 0) return;
  if (!buffered_) {
    write_through(text);
    return;
  }
  pending_ += text;
  if (pending_.size() >= trace_piece) flush();
}

void trace::write_through(std::string_view text) {
  if (fd_ < 0) return;
  while (!text.empty()) {
    ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a trace that cannot be written is given up, not fatal
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void output::trace_line_text(const std::string& for_page, const std::string& for_trace) {
  page_.write(for_page);
  if (page_tails_) page_.write(" <br>");
  trace_.write(for_trace);
}

void output::finish() {
  page_.flush();
  trace_.close();
}

void print_header(page& pg) { pg.write("Content-type: text/html\n\n"); }

}  // namespace formdecode
