// The counter files are rewritten whole (written aside, then renamed), so a
// run that stops half-way leaves the old value, never an empty file.
#include "site/naming_counters.h"

#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/platform.h"
#include "platform/site_file.h"
#include "text/text.h"

namespace site {
namespace {

// The first line of a counter file, at most 19 characters; nothing when
// the file is missing or empty. With a page, a counter that exists but
// cannot be read is reported there and ends the run (status 1): taken for
// a missing one, it would hand out ids and names already in use.
std::optional<std::string> first_line(const char* file, formdecode::page* pg = nullptr,
                                      const platform::site_dir& dir = {}) {
  std::string err;
  std::optional<std::string> text = platform::read_site_file(dir.at(file), &err);
  dir.as_inside(&err);
  if (!text && !err.empty() && pg) {
    pg->print("Error: can't read %s; nothing is changed.\n<p>", err);
    throw formdecode::run_exit{1};
  }
  if (!text || text->empty()) return std::nullopt;
  std::string line = text->substr(0, text->find('\n'));
  if (line.size() > 19) line.resize(19);
  return line;
}

long long decimal(const std::string& text) { return counter_value(text, nullptr); }

void store(const char* file, long long value, const platform::site_dir& dir = {}) {
  platform::replace_file(dir.at(file), std::to_string(value), nullptr);
}

}  // namespace

long long counter_value(std::string_view text, std::string* err) {
  std::string line(text.substr(0, text.find('\n')));
  if (line.size() > 19) line.resize(19);
  long long v = text::leading_number(line);
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

std::int32_t next_ic_id(const std::function<std::int32_t()>& highest_stored,
                        formdecode::page& pg, const platform::site_dir& dir) {
  std::optional<std::string> line = first_line(ic_id_counter_file, &pg, dir);
  long long current = 0;
  if (line) {
    const char* text = line->c_str();
    char* end = nullptr;
    current = std::strtoll(text, &end, 10);
    while (*end == ' ' || *end == '\t' || *end == '\r') ++end;
    if (end == text || *end != '\0') current = 0;
  }
  // A counter restored from an older copy may lag behind the ids in use:
  // the new id is above every stored one, whatever the counter says.
  long long highest = highest_stored();
  if (current < 1 || current >= INT32_MAX) {
    current = highest + 1;
    if (current < 1 || current >= INT32_MAX) current = 1;
    // A new site has neither a counter nor stored ids: nothing to report.
    if (line || highest > 0) {
      pg.print("The ic id counter %s is missing or damaged: ids go on after %d, the highest "
               "stored id.\n<p>",
               ic_id_counter_file, static_cast<int>(current - 1));
    }
  } else if (current <= highest && highest + 1 < INT32_MAX) {
    pg.print("The ic id counter %s holds %d, not above the stored id %d: ids go on after it.\n<p>",
             ic_id_counter_file, static_cast<int>(current), static_cast<int>(highest));
    current = highest + 1;
  }
  store(ic_id_counter_file, current + 1, dir);
  return static_cast<std::int32_t>(current);
}

std::string next_name_number() {
  std::optional<std::string> line = first_line(name_counter_file);
  std::string current = line.value_or("0");
  store(name_counter_file, (line ? decimal(*line) : 0) + 1);
  return current;
}

std::string next_name_number(formdecode::page& pg, const platform::site_dir& dir) {
  std::optional<std::string> line = first_line(name_counter_file, &pg, dir);
  std::string current = line.value_or("0");
  store(name_counter_file, (line ? decimal(*line) : 0) + 1, dir);
  return current;
}

}  // namespace site
