// Reading the site data files of a request.
#include "site/world.h"

#include <optional>
#include <string>
#include <vector>

#include "engine/cell_store.h"
#include "exchange/exchange.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "site/naming.h"
#include "site/naming_counters.h"
#include "site/vantle.h"

namespace site {
namespace {

[[noreturn]] void refuse(formdecode::output& out, const char* file, const std::string& why) {
  out.both("The data file %s is damaged: %s\n", file, why);
  throw formdecode::run_exit{1};
}

// A data file that exists but cannot be opened gets the message of a
// missing one and, on a line of its own, the system's reason.
[[noreturn]] void cannot_open(formdecode::output& out, const char* text, const char* file,
                              const std::string& err) {
  out.both(text, file);
  if (!err.empty()) out.both("Error: can't read %s.\n", err);
  throw formdecode::run_exit{1};
}

}  // namespace

void refuse_unreadable(formdecode::output& out, const std::string& err) {
  out.both("Error: can't read %s; nothing is changed.\n<p>", err);
  throw formdecode::run_exit{1};
}

void check_run_files(formdecode::output& out, unsigned needs, const platform::site_dir& site) {
  std::string err;
  if (needs & (READS_CELLS | SAVES_CELLS | PICKS_UP)) {
    for (const char* file : {engine::store_file, name_db_file, vantle_db_file, ic_id_counter_file,
                             name_counter_file, site_table_file, knowledge_base_file}) {
      if (!platform::plain_site_file_or_absent(site.at(file), &err)) {
        site.as_inside(&err);
        refuse_unreadable(out, err);
      }
    }
  }
  std::vector<std::string> dirs;
  if (needs & (SAVES_CELLS | PICKS_UP)) {
    // `BACKUP` and the staging directory are made by the save when missing.
    for (const char* dir : {engine::backup_dir, exchange::staging_dir, exchange::held_dir}) {
      if (platform::exists(site.at(dir))) dirs.emplace_back(dir);
    }
    dirs.emplace_back(exchange::outbox_dir);
  }
  if (needs & PICKS_UP) dirs.emplace_back(exchange::inbox_dir);
  for (const std::string& dir : dirs) {
    if (!platform::writable_directory(site.at(dir), &err)) {
      site.as_inside(&err);
      out.both("Error: can't write in the directory %s; nothing is changed.\n<p>", err);
      throw formdecode::run_exit{1};
    }
  }
}

site_table read_site_table(formdecode::output& out, const platform::site_dir& dir) {
  std::string read_err;
  std::optional<std::string> text = platform::read_site_file(dir.at(site_table_file), &read_err);
  dir.as_inside(&read_err);
  if (!text) cannot_open(out, "Cannot find file %s\n", site_table_file, read_err);
  std::string err;
  std::optional<site_table> table = site_table::parse(*text, &err);
  if (!table) refuse(out, site_table_file, err);
  return std::move(*table);
}

knowledge_base read_knowledge_base(formdecode::output& out, const platform::site_dir& dir) {
  std::string read_err;
  std::optional<std::string> text =
      platform::read_site_file(dir.at(knowledge_base_file), &read_err);
  dir.as_inside(&read_err);
  if (!text) cannot_open(out, "Cannot open data file %s\n", knowledge_base_file, read_err);
  std::string err;
  std::optional<knowledge_base> kb = parse_knowledge_base(*text, &err);
  if (!kb) refuse(out, knowledge_base_file, err);
  return std::move(*kb);
}

world read_world(formdecode::output& out, const platform::site_dir& dir) {
  site_table sites = read_site_table(out, dir);
  return world{std::move(sites), read_knowledge_base(out, dir)};
}

}  // namespace site
