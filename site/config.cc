// Reading, writing, updating and showing `config.txt`.
#include "site/config.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>
#include <vector>

#include "engine/cell_store.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "text/text.h"

namespace site {
namespace {

using formdecode::run_exit;

// Labels of the six lines, in file order.
constexpr const char* server_label = "server id: ";
constexpr const char* orv_label = "orv id: ";
constexpr const char* retrieve_label = "retrieval threshold: ";
constexpr const char* vg_label = "virtual site distance threshold: ";
constexpr const char* max_label = "max. vantle# threshold: ";
constexpr const char* email_label = "email address: ";

// Server and orv ids fill the 50-byte name fields of messages and cells.
constexpr size_t max_id_length = 49;

// The first word after `label` at the start of `line`, or nothing when the
// line does not carry the label or no word follows it.
std::optional<std::string> word_after(std::string_view line, std::string_view label) {
  if (!line.starts_with(label)) return std::nullopt;
  line.remove_prefix(label.size());
  size_t b = 0;
  while (b < line.size() && text::is_space(line[b])) ++b;
  size_t e = b;
  while (e < line.size() && !text::is_space(line[e])) ++e;
  if (e == b) return std::nullopt;
  return std::string(line.substr(b, e - b));
}

// The leading decimal number after `label`, or nothing when there is none.
std::optional<int> number_after(std::string_view line, std::string_view label) {
  std::optional<std::string> word = word_after(line, label);
  if (!word) return std::nullopt;
  const char* text = word->c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return std::nullopt;
  return static_cast<int>(v);
}

// A whole value for a numeric setting: a decimal integer that fits an int,
// blanks allowed around it.
std::optional<int> whole_number(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE || v < INT_MIN || v > INT_MAX) return std::nullopt;
  while (*end != '\0' && text::is_space(*end)) ++end;
  if (*end != '\0') return std::nullopt;
  return static_cast<int>(v);
}

}  // namespace

site_config read_config(formdecode::output& out, const platform::site_dir& dir) {
  std::string err;
  std::optional<std::string> text = platform::read_site_file(dir.at(config_file), &err);
  dir.as_inside(&err);
  if (!text && err.empty() && !platform::exists(dir.at(config_file))) {
    // Defaults would give a site that holds cells other ids than its
    // cells and its peers know: the file was lost, which is damage.
    if (platform::exists(dir.at(engine::store_file))) {
      out.pg().print("Can't open the configuration file: %s.<p> to read", config_file);
      out.both("\nError: %s is missing, but the site holds cells (%s): the site is damaged; "
               "nothing is changed.\n<p>",
               config_file, engine::store_file);
      throw run_exit{1};
    }
    out.pg().print("Creating the configuration file: %s and initialize the parameters:<p>",
                   config_file);
    site_config cfg;
    write_config(cfg, out, dir);
    show_config(cfg, out.pg());
    out.pg().write(
        "*** To start using this virtual site, <br> \t\t\t   please go to \"Change "
        "Configuration\" <br> \t\t       to configurate your server id and orv id.<p>");
    throw run_exit{0};
  }
  if (!text) {
    out.pg().print("Can't open the configuration file: %s.<p> to read", config_file);
    if (err.empty()) err = std::string(config_file) + ": a link to nothing";
    out.both("\nError: can't read %s; nothing is changed.\n<p>", err);
    throw run_exit{1};
  }
  return parse_config(*text, out);
}

std::string config_damage::text() const {
  return formdecode::format("The configuration file %s is damaged: line %d must begin with \"%s\".",
                            {config_file, line, label}, false);
}

std::variant<site_config, config_damage> parse_config(const std::string& text) {
  std::vector<std::string_view> lines = text::split_lines(text);
  lines.resize(std::max<size_t>(lines.size(), 6));

  site_config cfg;
  std::optional<std::string> word;
  std::optional<int> number;
  if (!(word = word_after(lines[0], server_label))) return config_damage{1, server_label};
  cfg.server_id = *word;
  if (!(word = word_after(lines[1], orv_label))) return config_damage{2, orv_label};
  cfg.orv_id = *word;
  if (!(number = number_after(lines[2], retrieve_label))) return config_damage{3, retrieve_label};
  cfg.retrieve_threshold = *number;
  if (!(number = number_after(lines[3], vg_label))) return config_damage{4, vg_label};
  cfg.vg_threshold = *number;
  if (!(number = number_after(lines[4], max_label))) return config_damage{5, max_label};
  cfg.max_vantle_threshold = *number;
  if (!(word = word_after(lines[5], email_label))) return config_damage{6, email_label};
  cfg.email = *word;
  return cfg;
}

site_config parse_config(const std::string& text, formdecode::output& out) {
  std::variant<site_config, config_damage> read = parse_config(text);
  if (const config_damage* d = std::get_if<config_damage>(&read)) {
    out.pg().print("The configuration file %s is damaged: line %d must begin with \"%s\".<p>\n",
                   config_file, d->line, d->label);
    throw run_exit{1};
  }
  return std::get<site_config>(std::move(read));
}

void write_config(const site_config& cfg, formdecode::output& out, const platform::site_dir& dir) {
  std::string text;
  text += formdecode::format("server id: %s\n", {cfg.server_id}, false);
  text += formdecode::format("orv id: %s\n", {cfg.orv_id}, false);
  text += formdecode::format("retrieval threshold: %d\n", {cfg.retrieve_threshold}, false);
  text += formdecode::format("virtual site distance threshold: %d\n", {cfg.vg_threshold}, false);
  text += formdecode::format("max. vantle# threshold: %d\n", {cfg.max_vantle_threshold}, false);
  text += formdecode::format("email address: %s\n", {cfg.email}, false);
  std::string err;
  if (!platform::replace_file(dir.at(config_file), text, &err)) {
    dir.as_inside(&err);
    out.pg().print("Can't open the configuration file: %s.<p> to write", config_file);
    throw run_exit{0};
  }
}

namespace {

// A refused update: the message on the page and in the trace, and, with
// its values as given, in `*refused`.
template <class... A>
bool refuse_update(formdecode::output& out, std::string* refused, std::string_view fmt,
                   const A&... args) {
  out.both(fmt, args...);
  if (refused) {
    *refused = formdecode::format(fmt, {formdecode::fmt_arg(args)...}, false);
    while (!refused->empty() && refused->back() == '\n') refused->pop_back();
  }
  return false;
}

}  // namespace

bool update_config(site_config& cfg, std::string_view content, formdecode::output& out,
                   std::string* refused, const platform::site_dir& dir) {
  size_t bar = content.find('|');
  std::string key(content.substr(0, bar));
  if (bar == std::string_view::npos || key.empty()) {
    return refuse_update(out, refused,
                         "The update \"%s\" is not a choice, \"|\" and a value.\n", content);
  }
  std::string_view rest = content.substr(bar + 1);
  std::string value(rest.substr(0, rest.find('|')));
  if (value.empty()) {
    return refuse_update(out, refused, "The choice \"%s\" is given without a value.\n", key);
  }
  bool is_id = key == "SERVER_ID" || key == "ORV_ID";
  if (is_id && value.size() > max_id_length) {
    return refuse_update(out, refused, "The value of \"%s\" is longer than %d characters.\n", key,
             static_cast<int>(max_id_length));
  }
  bool is_number = key == "RETRIEVE_THRESHOLD" || key == "VG_THRESHOLD" ||
                   key == "MAX_VANTLE_THRESHOLD";
  if (is_id || is_number || key == "SET_EMAIL_ADDRESS") {
    // A line of config.txt holds the value up to its first blank: a line
    // break would split the file, and blanks alone leave the line without
    // a value, so either would make the file unreadable for every request.
    if (value.find_first_of("\n\r") != std::string::npos) {
      return refuse_update(out, refused, "The value of \"%s\" must be one line.\n", key);
    }
    if (std::all_of(value.begin(), value.end(), text::is_space)) {
      return refuse_update(out, refused, "The value of \"%s\" must not be blank.\n", key);
    }
    if (is_number && !whole_number(value)) {
      return refuse_update(out, refused, "The value of \"%s\" must be a number.\n", key);
    }
  }
  if (key == "SERVER_ID") {
    cfg.server_id = value;
  } else if (key == "ORV_ID") {
    cfg.orv_id = value;
  } else if (key == "SET_EMAIL_ADDRESS") {
    cfg.email = value;
  } else if (key == "RETRIEVE_THRESHOLD") {
    cfg.retrieve_threshold = *whole_number(value);
  } else if (key == "VG_THRESHOLD") {
    cfg.vg_threshold = *whole_number(value);
  } else if (key == "MAX_VANTLE_THRESHOLD") {
    cfg.max_vantle_threshold = *whole_number(value);
  } else {
    return refuse_update(out, refused, "Unknown Choice \"%s\" with value %s.\n", key, value);
  }
  out.pg().print("\"%s\" is updated with the new value \"%s\".\n", key, value);
  out.tr().print("\"%s\" is updated with value %s.\n", key, value);
  write_config(cfg, out, dir);
  return true;
}

void show_config(const site_config& cfg, formdecode::page& pg) {
  pg.print("SERVER ID = %s <p> \n", cfg.server_id);
  pg.print("ORV ID = %s <p> \n", cfg.orv_id);
  pg.print("RETRIEVE THRESHOLD = %d.<p> \n", cfg.retrieve_threshold);
  pg.print("VIRTUAL SITE DISTANCE THRESHOLD = %d.<p> \n", cfg.vg_threshold);
  pg.print("MAXIMUM VANTLES THRESHOLD = %d.<p> \n", cfg.max_vantle_threshold);
}

}  // namespace site
