#include "engine/fg_reader.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "engine/store_text.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "text/text.h"

namespace engine {
namespace {

using formdecode::output;
using formdecode::run_exit;

const char* const head_content = "rev";

// Everything before the first "//".
std::string_view cut_comment(std::string_view line) {
  size_t c = line.find("//");
  return c == std::string_view::npos ? line : line.substr(0, c);
}

bool has_word(std::string_view s) {
  for (char c : s) {
    if (!text::is_space(c)) return true;
  }
  return false;
}

// A leading decimal integer (blanks, optional sign, digits) of `s` from
// `*pos`; `*pos` moves past it. None when there are no digits or the value
// does not fit.
std::optional<std::int32_t> leading_int(std::string_view s, size_t* pos) {
  size_t p = *pos;
  while (p < s.size() && text::is_space(s[p])) ++p;
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
  size_t digits = p;
  long long v = 0;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
    v = v * 10 + (s[p++] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (p == digits) return std::nullopt;
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return std::nullopt;
  *pos = p;
  return static_cast<std::int32_t>(v);
}

// The lines of a file, each without its line end.
class line_source {
 public:
  explicit line_source(std::string_view text) : text_(text) {}

  // The next line, or none at the end of the file.
  std::optional<std::string_view> next() {
    std::optional<std::string_view> line = next_line(text_, &pos_);
    if (line) last_ = *line;
    return line;
  }

  std::string_view last() const { return last_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  std::string_view last_;
};

// Reads the entries of one file; every failure ends the run.
class fg_parser {
 public:
  fg_parser(output& out, std::string_view text, const std::string& file_name)
      : out_(out), lines_(text), file_name_(file_name) {}

  std::vector<fg_function> parse() {
    std::vector<fg_function> chain;
    chain.push_back(head_function());
    while (std::optional<std::string_view> first = next_entry_line()) {
      chain.push_back(entry(*first));
    }
    return chain;
  }

 private:
  static fg_function head_function() {
    fg_function f;
    f.input_count = 1;
    f.inputs_needed = 1;
    message spec;
    spec.mflag = IC_ID;
    spec.msg_type = reply_msg_type;
    spec.content = head_content;
    f.inputs.push_back(spec);
    return f;
  }

  // Between entries, lines without a word (after their comment) are skipped.
  std::optional<std::string_view> next_entry_line() {
    while (std::optional<std::string_view> line = lines_.next()) {
      std::string_view value = cut_comment(*line);
      if (has_word(value)) return value;
    }
    return std::nullopt;
  }

  // The next line of an entry, comment cut; the file may not end here.
  std::string_view value_line(std::string_view headline) {
    std::optional<std::string_view> line = lines_.next();
    if (!line) fail(headline, lines_.last());
    return cut_comment(*line);
  }

  std::int32_t number(std::string_view value, std::string_view headline) {
    size_t pos = 0;
    std::optional<std::int32_t> v = leading_int(value, &pos);
    if (!v) fail(headline, lines_.last());
    return *v;
  }

  std::int32_t number_line(std::string_view headline) {
    return number(value_line(headline), headline);
  }

  // The parameter list after a comma at `*pos`: blanks skipped, then the
  // run up to the next blank, split at "|".
  std::vector<parameter> parameters(std::string_view value, size_t pos,
                                     std::string_view headline) {
    while (pos < value.size() && text::is_space(value[pos])) ++pos;
    size_t end = pos;
    while (end < value.size() && !text::is_space(value[end])) ++end;
    std::string_view list = value.substr(pos, end - pos);
    if (list.size() > max_parameter_list) fail(headline, lines_.last());
    return parse_parameter_list(list);
  }

  // type[:fuzzy][,parameters]
  message message_spec(std::string_view headline) {
    std::string_view value = value_line(headline);
    size_t pos = 0;
    std::optional<std::int32_t> type = leading_int(value, &pos);
    if (!type) fail(headline, lines_.last());
    message m;
    m.msg_type = *type;
    bool comma_follows = pos < value.size() && value[pos] == ',';
    if (value.find(':') != std::string_view::npos) {
      comma_follows = false;
      if (pos < value.size() && value[pos] == ':') {
        std::string rest(value.substr(pos + 1));
        char* end = nullptr;
        float f = std::strtof(rest.c_str(), &end);
        if (end != rest.c_str()) {
          m.fuzzy = f;
          pos += 1 + static_cast<size_t>(end - rest.c_str());
          comma_follows = pos < value.size() && value[pos] == ',';
        }
      }
    }
    if (comma_follows) m.params = parameters(value, pos + 1, headline);
    return m;
  }

  // number[,parameters]
  std::pair<std::int32_t, std::vector<parameter>> call_spec(std::string_view headline) {
    std::string_view value = value_line(headline);
    size_t pos = 0;
    std::optional<std::int32_t> n = leading_int(value, &pos);
    if (!n) fail(headline, lines_.last());
    std::vector<parameter> params;
    if (pos < value.size() && value[pos] == ',') params = parameters(value, pos + 1, headline);
    return {*n, std::move(params)};
  }

  // code[,type[,name]]
  void output_ic(fg_function& f, std::string_view headline) {
    std::string_view value = value_line(headline);
    size_t pos = 0;
    std::optional<std::int32_t> code = leading_int(value, &pos);
    if (!code) fail(headline, lines_.last());
    std::string type = "NOT_SPEC", name = "0";
    size_t comma = value.find(',', pos);
    if (comma != std::string_view::npos) {
      size_t t = comma + 1;
      while (t < value.size() && value[t] == ' ') ++t;
      if (t < value.size() && value[t] != '/') {
        size_t e = value.find_first_of(" \t^,/", t);
        std::string_view run = value.substr(t, e == std::string_view::npos ? e : e - t);
        if (!run.empty()) type = std::string(run);
        size_t c2 = value.find(',', t);
        if (c2 != std::string_view::npos) {
          size_t n = c2 + 1;
          while (n < value.size() && value[n] == ' ') ++n;
          if (n < value.size() && value[n] != '/') {
            size_t ne = value.find_first_of(" \t^/", n);
            std::string_view nrun = value.substr(n, ne == std::string_view::npos ? ne : ne - n);
            if (!nrun.empty()) name = std::string(nrun);
          }
        }
      }
    }
    f.output_ics.insert(f.output_ics.begin(), *code);
    f.output_ic_types.insert(f.output_ic_types.begin(), type);
    f.output_ic_names.insert(f.output_ic_names.begin(), name);
  }

  fg_function entry(std::string_view first) {
    fg_function f;
    f.current_state = number(first, "Illegal fg functions format: current state");
    f.next_state = number_line("Illegal fg functions format: next state");

    std::int32_t n = number_line("Illegal fg functions format: # of input messages");
    f.input_count = n;
    f.inputs_needed = n;
    for (std::int32_t i = 0; i < n; ++i) {
      f.inputs.insert(f.inputs.begin(), message_spec("Illegal fg functions format: input message"));
    }

    std::int32_t p = number_line("Illegal fg functions format: # of predicate function");
    if (p == 1) {
      auto [number, params] = call_spec("Illegal fg functions format: predicate function");
      f.predicate = fg_predicate{number, std::move(params)};
    } else if (p != 0) {
      fail("Illegal fg functions format: 0 or 1 predicate function supported only",
                  lines_.last());
    }

    std::int32_t k = number_line("Illegal fg functions format: # of output ic's");
    f.output_ic_count = k;
    f.output_ic_count_copy = k;
    if (k < 0) {
      out_.pg().write("Note: no_output_ic < 0 : old spec of fg format!!\n");
      out_.pg().write("      The result may be not what you expect!!\n");
    }
    std::int64_t used = k < 0 ? -static_cast<std::int64_t>(k) : k;
    for (std::int64_t i = 0; i < used; ++i) output_ic(f, "Illegal fg functions format: output ic");

    std::int32_t m = number_line("Illegal fg functions format: # of output messages");
    if (m != used) throw fg_damage{false, "", file_name_};
    f.output_msg_count = m;
    for (std::int32_t i = 0; i < m; ++i) {
      message spec = message_spec("Illegal fg functions format: output messages");
      spec.mflag = IC_ID;
      f.outputs.insert(f.outputs.begin(), std::move(spec));
    }

    std::int32_t a = number_line("Illegal fg functions format: # of actions");
    for (std::int32_t i = 0; i < a; ++i) {
      auto [number, params] = call_spec("Illegal fg functions format: action");
      f.actions.push_back(fg_action{number, std::move(params)});
    }
    return f;
  }

  // Ends the reading: the entry is malformed.
  [[noreturn]] void fail(std::string_view headline, std::string_view line) {
    throw fg_damage{true, std::string(headline), std::string(line)};
  }

  output& out_;
  line_source lines_;
  const std::string& file_name_;
};

}  // namespace

std::string fg_file_name(const std::string& ic_type) { return ic_type + ".in"; }

std::vector<parameter> parse_parameter_list(std::string_view list) {
  std::vector<parameter> params;
  std::int32_t index = 0;
  while (!list.empty()) {
    size_t bar = list.find('|');
    std::string_view text = list.substr(0, bar);
    list = bar == std::string_view::npos ? std::string_view() : list.substr(bar + 1);
    if (text.empty()) continue;
    parameter p;
    p.index = ++index;
    p.name = std::string(text);
    char c = text[0];
    if (c == 'I' || c == 'S' || c == 'F') {
      p.flag = PAR_CONSTANT;
      p.content = std::string(text.substr(1));
    } else if (c == 'X' || c == 'Y' || c == 'Z') {
      p.flag = PAR_VARIABLE;
    } else if (c == 'G' || c == 'H') {
      p.flag = PAR_FUNCTION;
    } else if (text.substr(0, 2) == "DB") {
      p.flag = PAR_DATABASE;
    }
    params.push_back(std::move(p));
  }
  return params;
}

void fatal_trace(formdecode::output& out, std::string_view headline, std::string_view line) {
  out.both("***** %s *****\n", headline);
  out.both("%s\n", line);
  out.pg().write("</body></html>");
  throw run_exit{-1};
}

std::string fg_damage::text() const {
  if (!fatal) return "# of ics and # of messages are not equal in " + line;
  return "***** " + headline + " *****" + (line.empty() ? "" : " " + line);
}

std::variant<std::vector<fg_function>, fg_damage> parse_fg_functions(std::string_view text,
                                                                     const std::string& file_name) {
  std::ostringstream notes;  // what the reader notes on the way is not kept
  output out(notes);
  try {
    return fg_parser(out, text, file_name).parse();
  } catch (const fg_damage& d) {
    return d;
  }
}

std::vector<fg_function> parse_fg_functions(formdecode::output& out, std::string_view text,
                                            const std::string& file_name) {
  try {
    return fg_parser(out, text, file_name).parse();
  } catch (const fg_damage& d) {
    if (d.fatal) fatal_trace(out, d.headline, d.line);
    out.pg().print("# of ics and # of messages are not equal in %s\n", d.line);
    throw run_exit{0};
  }
}

void fg_library::set(const std::string& ic_type, std::vector<fg_function> chain) {
  cache_.insert_or_assign(ic_type,
                          std::make_shared<const std::vector<fg_function>>(std::move(chain)));
}

fg_chain fg_library::of(const std::string& ic_type) {
  auto cached = cache_.find(ic_type);
  if (cached != cache_.end()) return fg_chain(cached->second);
  std::string file = fg_file_name(ic_type);
  // The type names a file of the site's directory and nothing else.
  // It must be a plain file of the site: a link, a FIFO or a device is
  // refused, as an unreadable site file is, before a byte is read.
  std::optional<std::string> text;
  std::string why;
  if (ic_type.find_first_of("/\\") == std::string::npos) {
    text = platform::read_site_file(dir_ ? dir_->at(file) : file, &why, fg_file_limit);
    if (dir_) dir_->as_inside(&why);
  }
  // (Other failures, as ever, read as a missing file.)
  if (!text && (why.find("not a plain file") != std::string::npos ||
                why.find(" it may hold") != std::string::npos)) {
    out_.both("Error: can't read %s; nothing is changed.\n<p>", why);
    throw run_exit{1};
  }
  if (!text) fatal_trace(out_, "No such file: " + file, "");
  auto chain =
      std::make_shared<const std::vector<fg_function>>(parse_fg_functions(out_, *text, file));
  cache_.emplace(ic_type, chain);
  return fg_chain(std::move(chain));
}

std::vector<fg_function> fg_library::copy_of(const std::string& ic_type) {
  return of(ic_type).view();
}

}  // namespace engine
