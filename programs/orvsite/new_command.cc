// `orvsite new`: a site directory from the samples.
#include "programs/orvsite/new_command.h"

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <vector>

#include "formdecode/page.h"
#include "platform/platform.h"
#include "programs/orvsite/site_files.h"
#include "site/config.h"
#include "site/keywords.h"
#include "site/request.h"
#include "site/site_table.h"
#include "site/world.h"

namespace orvsite {
namespace {

constexpr unsigned data_mode = 0644;
constexpr unsigned program_mode = 0755;
// The scripts of a site that exchanges over SSH, beside the transfer
// scripts: the link-in and the forced command of the peers' keys.
constexpr const char* ssh_link_script = "orv_ssh_link.sh";
constexpr const char* ssh_serve_script = "orv_ssh_serve.sh";

// `text` as one word of a shell command line.
std::string shell_word(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == ':' ||
              c == '@';
    if (!ok) plain = false;
  }
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string dir_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Writes `text` to `to` (replacing it) with `mode`; false with `*err`.
bool put(const std::string& to, const std::string& text, unsigned mode, std::string* err) {
  if (!platform::replace_file(to, text, err)) return false;
  if (!platform::set_mode(to, mode)) {
    *err = to + ": cannot set its mode";
    return false;
  }
  return true;
}

// Copies `from` to `to` (replacing it) with `mode`; false with `*err`.
bool install(const std::string& from, const std::string& to, unsigned mode, std::string* err) {
  std::optional<std::string> text = platform::read_file(from);
  if (!text) {
    *err = from + ": cannot be read";
    return false;
  }
  return put(to, *text, mode, err);
}

// The text of a site.config or kb.txt to use, read and checked with the
// programs' own readers. Nothing, with `*err`, when it does not read.
std::optional<std::string> checked_data(const std::string& path, bool is_site_table,
                                        std::string* err) {
  std::optional<std::string> text = platform::read_file(path);
  if (!text) {
    *err = path + ": cannot be read";
    return std::nullopt;
  }
  std::string why;
  bool ok = is_site_table ? site::site_table::parse(*text, &why).has_value()
                          : site::parse_knowledge_base(*text, &why).has_value();
  if (!ok) {
    *err = path + ": " + why;
    return std::nullopt;
  }
  return text;
}

// The new config.txt, written by the programs' own writer in `html`.
bool write_config(const std::string& html, const new_options& o, std::string* err) {
  in_directory in(html);
  std::ostringstream page;
  formdecode::output out(page);
  site::site_config cfg;
  cfg.server_id = o.server_id;
  cfg.orv_id = o.orv_id;
  cfg.retrieve_threshold = new_site_retrieval_threshold;
  cfg.vg_threshold = new_site_distance_threshold;
  cfg.max_vantle_threshold = new_site_max_vantles;
  try {
    if (!in.entered()) throw formdecode::run_exit{1};
    site::write_config(cfg, out);
  } catch (const formdecode::run_exit&) {
    *err = join(html, site::config_file) + ": cannot be written";
    return false;
  }
  return true;
}

// Everything but the site's data: fg functions files, transfer scripts,
// pages, images and programs. The manager names come from the pages just
// copied.
bool install_release(const std::string& dir, const sources& src, const std::string& orv_id,
                     const std::string& server_id, std::vector<std::string>* managers,
                     std::string* err) {
  std::string html = join(dir, html_dir);
  for (const std::string& f : files_ending_with(src.samples, ".in")) {
    if (!install(join(src.samples, f), join(html, f), data_mode, err)) return false;
  }
  // A site that links arrivals in over SSH keeps doing so: its scripts, the
  // forced command among them, are refreshed from the SSH set.
  std::string scripts_from = src.samples;
  std::vector<std::string> scripts = {"orv_ftp_get.cmd", "orv_ftp_put.cmd"};
  if (platform::exists(join(html, ssh_link_script))) {
    scripts_from = join(src.samples, "ssh");
    scripts = {"orv_ftp_get.cmd", "orv_ftp_put.cmd", ssh_link_script, ssh_serve_script};
  }
  for (const std::string& script : scripts) {
    if (!install(join(scripts_from, script), join(html, script), program_mode, err)) return false;
  }
  std::string pages_from = join(src.samples, page_dir);
  std::vector<std::string> pages = platform::list_files_oldest_first(pages_from);
  if (pages.empty()) {
    *err = pages_from + ": holds no pages";
    return false;
  }
  for (const std::string& f : pages) {
    std::optional<std::string> text = platform::read_file(join(pages_from, f));
    if (!text) {
      *err = join(pages_from, f) + ": cannot be read";
      return false;
    }
    if (!put(join(dir, join(page_dir, f)), substitute_ids(*text, orv_id, server_id), data_mode,
             err)) {
      return false;
    }
  }
  for (const std::string& f : platform::list_files_oldest_first(src.images)) {
    for (const char* ext : {".gif", ".jpg", ".jpeg", ".png"}) {
      std::string e = ext;
      if (f.size() > e.size() && f.compare(f.size() - e.size(), e.size(), e) == 0) {
        if (!install(join(src.images, f), join(dir, join(image_dir, f)), data_mode, err)) {
          return false;
        }
      }
    }
  }
  if (!install(join(src.programs, "vexil"), join(dir, vexil_name), program_mode, err)) return false;
  *managers = manager_names(join(dir, page_dir));
  if (managers->empty()) managers->push_back(default_manager);
  for (const std::string& name : *managers) {
    if (!install(join(src.programs, "orv"), join(dir, name), program_mode, err)) return false;
  }
  return true;
}

// The orv id and server id of an existing site, read by the programs' own
// reader.
bool read_ids(const std::string& html, std::string* orv_id, std::string* server_id,
              std::string* err) {
  in_directory in(html);
  std::ostringstream page;
  formdecode::output out(page);
  try {
    if (!in.entered()) throw formdecode::run_exit{1};
    site::site_config cfg = site::read_config(out);
    *orv_id = cfg.orv_id;
    *server_id = cfg.server_id;
  } catch (const formdecode::run_exit&) {
    *err = join(html, site::config_file) + " does not read; run orvsite check";
    return false;
  }
  return true;
}

}  // namespace

int exchange_second(const std::string& orv_id) {
  // FNV-1a: neighbouring names fall far apart.
  std::uint32_t h = 2166136261u;
  for (char c : orv_id) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return static_cast<int>(h % 60);
}

std::string cron_line(const std::string& orvsite, const std::string& dir,
                      const std::string& orv_id) {
  std::string site = std::filesystem::absolute(dir).lexically_normal().string();
  if (site.size() > 1 && site.back() == '/') site.pop_back();
  // (cron gives "%" a meaning of its own: escaped)
  std::string line = "* * * * * www-data sleep " + std::to_string(exchange_second(orv_id)) +
                     "; " + shell_word(orvsite) + " exchange --keep 500 " + shell_word(site);
  std::string escaped;
  for (char c : line) {
    if (c == '%') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

bool valid_id(const std::string& id) {
  if (id.empty() || id.size() > 49 || id[0] == '.') return false;
  for (char c : id) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::optional<sources> find_sources(std::string* err) {
  std::string exe = platform::own_executable();
  if (exe.empty()) {
    *err = "cannot tell where orvsite is installed";
    return std::nullopt;
  }
  std::string bin = dir_of(exe);
  std::string installed = join(bin, ORVSITE_PROGRAMS_FROM_BIN);
  if (platform::exists(join(installed, "orv"))) {
    std::string data = join(bin, ORVSITE_DATA_FROM_BIN);
    return sources{installed, join(data, "samples/site"), join(data, "images")};
  }
  if (platform::exists(join(bin, "orv")) && platform::is_directory(ORVSITE_SOURCE_DIR)) {
    std::string source = ORVSITE_SOURCE_DIR;
    return sources{bin, join(source, "samples/site"), join(source, "scripts/demo")};
  }
  *err = "no installed programs in " + installed;
  return std::nullopt;
}

int new_site(const new_options& o, const sources& given, std::ostream& out, std::ostream& err) {
  sources src = given;
  if (o.from) {
    src.samples = *o.from;
    if (platform::is_directory(join(*o.from, "images"))) src.images = join(*o.from, "images");
  }
  std::string dir = o.dir;
  std::string html = join(dir, html_dir);
  std::string why;
  auto fail = [&](const std::string& what) {
    err << "orvsite new: " << what << "\n";
    return 1;
  };

  std::string orv_id = o.orv_id, server_id = o.server_id;
  if (o.update) {
    if (!platform::exists(join(html, site::config_file))) {
      return fail(dir + " is not a site (no " + join(html, site::config_file) + ")");
    }
  } else {
    if (server_id.empty() || orv_id.empty()) return fail("--server-id and --orv-id are required");
    if (!valid_id(server_id)) return fail("server id \"" + server_id + "\" is not one word of letters, digits, _ - .");
    if (!valid_id(orv_id)) return fail("orv id \"" + orv_id + "\" is not one word of letters, digits, _ - .");
    if (platform::exists(html)) {
      return fail(dir + " holds a site already (" + html +
                  "); orvsite new --update refreshes its programs and pages");
    }
  }

  // The data files to write, checked before anything is laid out.
  std::optional<std::string> table, kb;
  if (o.site_config || !o.update) {
    table = checked_data(o.site_config.value_or(join(src.samples, site::site_table_file)),
                         true, &why);
    if (!table) return fail(why);
  }
  if (o.kb || !o.update) {
    kb = checked_data(o.kb.value_or(join(src.samples, site::knowledge_base_file)), false,
                      &why);
    if (!kb) return fail(why);
  }

  for (const std::string& d : {dir, html, join(dir, page_dir), join(dir, "S-Event_Data"),
                               join(dir, image_dir)}) {
    if (!platform::make_directory(d)) return fail(d + ": cannot be made");
  }
  platform::run_lock lock(join(html, site::lock_file));
  if (!lock.held()) return fail(join(html, site::lock_file) + ": cannot be locked");

  if (o.update) {
    if (!read_ids(html, &orv_id, &server_id, &why)) return fail(why);
  } else if (!write_config(html, o, &why)) {
    return fail(why);
  }
  if (table && !put(join(html, site::site_table_file), *table, data_mode, &why)) return fail(why);
  if (kb && !put(join(html, site::knowledge_base_file), *kb, data_mode, &why)) return fail(why);

  std::vector<std::string> managers;
  if (!install_release(dir, src, orv_id, server_id, &managers, &why)) return fail(why);

  out << (o.update ? "Refreshed" : "Laid out") << " the site " << orv_id << " (server id "
      << server_id << ") in " << dir << "; its manager:";
  for (const std::string& m : managers) out << " " << m;
  out << "\n";
  out << "Its exchange every minute from cron (/etc/cron.d), at a second of its own:\n  "
      << cron_line(platform::own_executable(), dir, orv_id) << "\n";
  // A site its own table does not list refuses every request for cells.
  std::optional<std::string> current = platform::read_file(join(html, site::site_table_file));
  std::optional<site::site_table> t =
      current ? site::site_table::parse(*current, &why) : std::nullopt;
  if (t && !t->find(orv_id)) {
    out << "Note: " << join(html, site::site_table_file) << " does not list " << orv_id
        << " yet: add it (and add it to the other sites' site.config) before requests for cells.\n";
  }
  return 0;
}

}  // namespace orvsite
