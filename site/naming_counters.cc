// The counter files are rewritten whole (written aside, then renamed), so a
// run that stops half-way leaves the old value, never an empty file.
#include "site/naming_counters.h"

#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/platform.h"

namespace site {
namespace {

// The first line of a counter file, at most 19 characters; nothing when
// the file is missing or empty.
std::optional<std::string> first_line(const char* file) {
  std::optional<std::string> text = platform::read_file(file);
  if (!text || text->empty()) return std::nullopt;
  std::string line = text->substr(0, text->find('\n'));
  if (line.size() > 19) line.resize(19);
  return line;
}

long long decimal(const std::string& text) { return counter_value(text, nullptr); }

void store(const char* file, long long value) {
  platform::replace_file(file, std::to_string(value), nullptr);
}

}  // namespace

long long counter_value(std::string_view text, std::string* err) {
  std::string line(text.substr(0, text.find('\n')));
  if (line.size() > 19) line.resize(19);
  long long v = std::strtoll(line.c_str(), nullptr, 10);
  if (err) {
    std::string_view digits = line;
    if (!digits.empty() && digits.back() == '\r') digits.remove_suffix(1);
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
    bool number = !digits.empty() &&
                  digits.find_first_not_of("0123456789") == std::string_view::npos;
    if (!number) *err = "line 1: \"" + line + "\" is not a decimal number";
  }
  return v;
}

std::int32_t next_ic_id() {
  std::optional<std::string> line = first_line(ic_id_counter_file);
  long long current = line ? decimal(*line) : 1;
  // Ids start at 1: 0 and negative ids mean "no cell" or "external" to the
  // engine, so a damaged counter may not hand them out.
  if (current < 1 || current >= INT32_MAX) current = 1;
  store(ic_id_counter_file, current + 1);
  return static_cast<std::int32_t>(current);
}

std::string next_name_number() {
  std::optional<std::string> line = first_line(name_counter_file);
  std::string current = line.value_or("0");
  store(name_counter_file, (line ? decimal(*line) : 0) + 1);
  return current;
}

}  // namespace site
