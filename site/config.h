// Site configuration: the six settings of a site, kept in `config.txt`.
#pragma once

#include <string>
#include <variant>
#include <string_view>

#include "formdecode/page.h"

#include "platform/site_dir.h"

namespace site {

/// The file that holds the settings, in the site's directory.
inline constexpr const char* config_file = "config.txt";

/// The settings of one site, with the defaults of a new site.
struct site_config {
  std::string server_id = "undefined";  // server id of the site (one word)
  std::string orv_id = "undefined";     // the site's name among the sites
  int retrieve_threshold = 0;           // keyword match threshold
  int vg_threshold = 9;                 // virtual site distance threshold
  int max_vantle_threshold = 3;         // most vantles an action creates
  std::string email = "NULL";           // owner's e-mail address; "NULL" for none
};

/// Reads the settings from `config.txt`. A site without the file gets it
/// written with the defaults, is shown the settings and the hint to
/// configure the site, and the run ends there (`run_exit{0}`). A file that
/// exists but cannot be read (with the system's reason), or whose lines do
/// not carry their labels, ends the run with a message (`run_exit{1}`);
/// nothing is written then.
site_config read_config(formdecode::output& out, const platform::site_dir& dir = {});

/// Reads the settings from the text of a `config.txt`; lines that do not
/// carry their labels end the run as for `read_config`.
site_config parse_config(const std::string& text, formdecode::output& out);

/// A line of a `config.txt` that does not carry its label.
struct config_damage {
  int line = 0;
  std::string label;
  /// What the page says of it, without markup.
  std::string text() const;
};

/// The settings `text` holds, or the first line that does not carry its
/// label.
std::variant<site_config, config_damage> parse_config(const std::string& text);

/// Rewrites `config.txt` from `cfg`; a failure ends the run (`run_exit{0}`).
void write_config(const site_config& cfg, formdecode::output& out, const platform::site_dir& dir = {});

/// Carries out MSG_UPDATE_CONFIG: `content` is a key, "|" and a value (what
/// follows a second "|" is ignored). A known key changes `cfg` and rewrites
/// the file (true); anything else is reported, said in `*refused` (when
/// given) and changes nothing (false).
bool update_config(site_config& cfg, std::string_view content, formdecode::output& out,
                   std::string* refused = nullptr, const platform::site_dir& dir = {});

/// Carries out MSG_SHOW_CONFIG: the settings (all but the e-mail address) on
/// the page.
void show_config(const site_config& cfg, formdecode::page& pg);

}  // namespace site
