// `orvsite state` and `orvsite prune`.
#include "programs/orvsite/state_command.h"

#include <ctime>
#include <map>
#include <sstream>

#include "engine/cell_store.h"
#include "engine/engine.h"
#include "exchange/exchange.h"
#include "platform/platform.h"
#include "platform/site_dir.h"
#include "platform/site_file.h"
#include "programs/orvsite/site_files.h"
#include "site/config.h"
#include "site/orv_hooks.h"
#include "site/request.h"
#include "site/vantle.h"

namespace orvsite {
namespace {

std::string count_of(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string utc_time(std::int64_t seconds) {
  return utc_text(seconds, "%Y-%m-%d %H:%M:%S UTC");
}

// The cells of file.ic by IC type, read as orv reads them; nothing when
// the store does not read.
std::optional<std::map<std::string, int>> cells_by_type(const site::site_config& cfg,
                                                        const platform::site_dir& dir) {
  std::ostringstream page;
  formdecode::output out(page);
  site::orv_hooks hooks(out, cfg.orv_id);
  hooks.set_dir(dir);
  engine::engine_state st(out, engine::site_identity{cfg.server_id, cfg.orv_id},
                          site::orv_message_types, hooks);
  st.dir = dir;
  try {
    engine::load_all_cells(st);
  } catch (const formdecode::run_exit&) {
    return std::nullopt;
  }
  std::map<std::string, int> types;
  for (const engine::cell_list* l : {&st.cells.active, &st.cells.sleeping}) {
    for (const engine::cell_slot& c : *l) ++types[c.ic_type()];  // no cell is read
  }
  return types;
}

}  // namespace

std::vector<std::string> backup_copies(const std::string& backup_dir) {
  std::vector<std::string> copies;
  const std::string prefix = std::string(engine::store_file) + ".b";
  for (std::string& name : platform::list_files_oldest_first(backup_dir)) {
    if (name.size() > prefix.size() && name.starts_with(prefix) &&
        name.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
      copies.push_back(std::move(name));
    }
  }
  return copies;
}

int state_command(const std::string& dir, std::ostream& out, std::ostream& err) {
  std::string html = join(dir, html_dir);
  if (!platform::exists(join(html, site::config_file))) {
    err << "orvsite state: " << dir << " is not a site (no " << join(html, site::config_file)
        << ")\n";
    return 1;
  }
  // The site's files are reached through its directory; this process
  // stays where it is.
  const platform::site_dir site(html);
  std::ostringstream page;
  formdecode::output cfg_out(page);
  site::site_config cfg;
  try {
    cfg = site::read_config(cfg_out, site);
  } catch (const formdecode::run_exit&) {
    err << "orvsite state: " << join(html, site::config_file)
        << " does not read; run orvsite check\n";
    return 1;
  }
  out << "site: orv id " << cfg.orv_id << ", server id " << cfg.server_id << "\n";

  std::optional<std::map<std::string, int>> types = cells_by_type(cfg, site);
  if (!types) {
    out << "cells: " << engine::store_file << " does not read (orvsite check tells why)\n";
  } else {
    int total = 0;
    std::string list;
    for (const auto& [type, n] : *types) {
      total += n;
      list += (list.empty() ? "" : ", ") + type + " " + std::to_string(n);
    }
    out << "cells: " << total << (list.empty() ? "" : " (" + list + ")") << "\n";
  }

  size_t vantles = 0;
  std::string db_err;
  if (std::optional<std::string> db = platform::read_site_file(site.at(site::vantle_db_file), &db_err)) {
    site::read_vantle_records(
        *db, [&](std::string_view, std::string_view) { return ++vantles, false; }, nullptr);
  }
  out << "vantles: " << count_of(vantles, "name", "names") << " in " << site::vantle_db_file
      << "\n";

  out << "waiting: " << count_of(platform::list_files_oldest_first(site.at(exchange::inbox_dir)).size(),
                                 "file", "files")
      << " in inbox, "
      << count_of(platform::list_files_oldest_first(site.at(exchange::outbox_dir)).size(), "file", "files")
      << " in outbox\n";

  std::vector<std::string> copies = backup_copies(site.at(engine::backup_dir));
  std::int64_t bytes = 0;
  for (const std::string& c : copies) {
    if (auto info = platform::stat_file(site.at(join(engine::backup_dir, c)))) bytes += info->size;
  }
  out << "backups: " << count_of(copies.size(), "copy", "copies") << ", " << bytes
      << " bytes";
  if (!copies.empty()) out << ", newest " << join(engine::backup_dir, copies.back());
  out << "\n";

  std::optional<platform::file_info> dump = platform::stat_file(site.at("dump_file"));
  out << "last request: " << (dump ? utc_time(dump->mtime_sec) : std::string("none yet")) << "\n";
  return 0;
}

int prune_command(const std::string& dir, int keep, std::ostream& out, std::ostream& err) {
  if (keep < 1) {
    err << "orvsite prune: --keep must be at least 1 (the newest copy always stays)\n";
    return 2;
  }
  std::string html = join(dir, html_dir);
  if (!platform::exists(join(html, site::config_file))) {
    err << "orvsite prune: " << dir << " is not a site (no " << join(html, site::config_file)
        << ")\n";
    return 1;
  }
  platform::run_lock lock(join(html, site::lock_file));
  if (!lock.held()) {
    err << "orvsite prune: cannot lock " << join(html, site::lock_file) << "\n";
    return 1;
  }
  std::string backups = join(html, engine::backup_dir);
  // Only copies in the site's own folder are removed, never through a link.
  std::string why;
  if (!platform::site_directory_or_absent(backups, &why)) {
    err << "orvsite prune: " << why << "; nothing is removed\n";
    return 1;
  }
  std::vector<std::string> copies = backup_copies(backups);
  size_t remove = copies.size() > static_cast<size_t>(keep) ? copies.size() - static_cast<size_t>(keep) : 0;
  std::int64_t freed = 0;
  for (size_t i = 0; i < remove; ++i) {
    std::string path = join(backups, copies[i]);
    std::optional<platform::file_info> info = platform::stat_file(path);
    if (!platform::remove_file(path)) {
      err << "orvsite prune: cannot remove " << path << "\n";
      return 1;
    }
    if (info) freed += info->size;
  }
  out << "kept " << count_of(copies.size() - remove, "backup copy", "backup copies")
      << ", removed " << remove << " (" << freed << " bytes)\n";
  return 0;
}

}  // namespace orvsite
