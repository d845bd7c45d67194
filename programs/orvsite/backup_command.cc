// `orvsite backup` and `orvsite restore`.
#include "programs/orvsite/backup_command.h"

#include <algorithm>
#include <ctime>
#include <string_view>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <vector>

#include "engine/cell_store.h"
#include "engine/store_text.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "programs/orvsite/check_command.h"
#include "programs/orvsite/site_files.h"
#include "site/naming.h"
#include "site/naming_counters.h"
#include "site/request.h"
#include "site/restore_swap.h"

namespace orvsite {
namespace {

namespace fs = std::filesystem;

// The last part of a path ("/srv/orv/west/" gives "west").
std::string base_name(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string default_archive(const std::string& dir) {
  return base_name(absolute(dir)) + "-" + utc_text(platform::now_seconds(), "%Y%m%d-%H%M%S") +
         ".tar.gz";
}

// What an entry of the kind `type` (the first letter of tar's long
// listing) is, when it is not a plain file or a folder.
std::string kind_of(char type) {
  switch (type) {
    case 'l': return "a symbolic link";
    case 'h': return "a hard link";
    case 'p': return "a FIFO";
    case 'c': return "a character device";
    case 'b': return "a block device";
    default: return "of the kind '" + std::string(1, type) + "'";
  }
}

// Whether every entry of `archive` is a plain file or a folder inside
// html; otherwise `*why` names the first that is not. Names are listed
// escaped (a newline as \n), so each entry is one line of each listing.
bool archive_entries_fit(const std::string& archive, std::string* why) {
  auto list = [&](bool verbose, std::vector<std::string>* lines) {
    std::vector<std::string> argv = {"tar", "--list", "--gzip", "--numeric-owner",
                                     "--quoting-style=escape", "--file", archive};
    if (verbose) argv.insert(argv.begin() + 2, "--verbose");
    platform::program_result r;
    std::string error_text;
    std::string err;
    if (!platform::run_command(argv, &r, &error_text, &err) || r.status != 0) {
      *why = "tar cannot list it" + (err.empty() ? std::string() : " (" + err + ")") +
             (error_text.empty() ? std::string() : ": " + error_text.substr(0, error_text.find('\n')));
      return false;
    }
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines->push_back(line);
    return true;
  };
  std::vector<std::string> names;
  std::vector<std::string> long_lines;
  if (!list(false, &names) || !list(true, &long_lines)) return false;
  if (names.size() != long_lines.size()) {
    *why = "tar lists its entries in two different ways";
    return false;
  }
  const std::string inside = std::string(html_dir) + "/";
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    char type = long_lines[i].empty() ? '?' : long_lines[i][0];
    if (type != '-' && type != 'd') {
      *why = "the entry " + name + " is " + kind_of(type) + ", not a plain file or folder";
      return false;
    }
    bool dotdot = false;
    std::istringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) dotdot = dotdot || part == "..";
    if ((name != html_dir && !name.starts_with(inside)) || dotdot) {
      *why = "the entry " + name + " is not inside " + html_dir;
      return false;
    }
  }
  return true;
}

// The first entry below the unpacked copy `dir` (shown as `shown`) that is
// not a plain file of its own or a folder, said as a reason; nothing when
// all are.
std::optional<std::string> odd_entry(const std::string& dir, const std::string& shown) {
  for (const std::string& name : platform::list_entries(dir).value_or(std::vector<std::string>{})) {
    std::string path = join(dir, name);
    std::optional<platform::entry_access> a = platform::access_of(path);
    if (!a) return "the entry " + join(shown, name) + " vanished while unpacked";
    if (a->directory) {
      if (std::optional<std::string> odd = odd_entry(path, join(shown, name))) return odd;
    } else if (!a->regular) {
      return "the entry " + join(shown, name) + " is not a plain file or folder";
    } else if (a->links != 1) {
      return "the entry " + join(shown, name) + " is a hard link";
    }
  }
  return std::nullopt;
}

// The highest cell id the site in `html` holds, in its store or its naming
// file: a line "id: N" of the store or a record of name_db. A text of a
// cell that happens to read "id: N" can only raise the mark, which skips
// ids and never repeats one.
long long highest_id_held(const std::string& html) {
  long long highest = 0;
  std::string err;
  if (std::optional<std::string> store = platform::read_site_file(join(html, engine::store_file), &err)) {
    std::string_view text = *store;
    std::size_t pos = 0;
    while (std::optional<std::string_view> line = engine::next_line(text, &pos)) {
      if (!line->starts_with("id: ")) continue;
      if (std::optional<std::int32_t> id = engine::parse_int(line->substr(4))) {
        highest = std::max<long long>(highest, *id);
      }
    }
  }
  if (std::optional<std::string> names = platform::read_site_file(join(html, site::name_db_file), &err)) {
    site::read_name_records(
        *names,
        [&](const site::name_record& r) {
          highest = std::max<long long>(highest, r.ic_id);
          return false;
        },
        &err);
  }
  return highest;
}

// The id and name counters of the copy `unpacked` go on at least where
// html's own stand: ids and names handed out since the backup may be held
// by other sites and are never handed out again. The id counter also goes
// above every id html's cells and names hold, in case its counter file
// was lost.
bool keep_counters_ahead(const std::string& html, const std::string& unpacked, std::string* why) {
  for (const char* counter : {site::ic_id_counter_file, site::name_counter_file}) {
    std::string err;
    std::optional<std::string> now = platform::read_site_file(join(html, counter), &err);
    long long current = now ? site::counter_value(*now, nullptr) : 0;
    if (std::string_view(counter) == site::ic_id_counter_file) {
      current = std::max(current, highest_id_held(html) + 1);
    }
    if (current <= 0) continue;  // nothing handed out, or nothing to go by
    std::string copy_path = join(unpacked, counter);
    std::optional<std::string> copy = platform::read_site_file(copy_path, &err);
    long long archived = copy ? site::counter_value(*copy, nullptr) : 0;
    if (current <= archived) continue;
    std::optional<platform::entry_access> owner = platform::access_of(copy ? copy_path : unpacked);
    if (!platform::replace_file(copy_path, std::to_string(current), &err)) {
      *why = "cannot write " + copy_path + ": " + err;
      return false;
    }
    if (owner) platform::set_owner(copy_path, owner->owner, owner->group);
  }
  return true;
}

}  // namespace

int backup_command(const std::string& dir, const std::optional<std::string>& file,
                   std::ostream& out, std::ostream& err) {
  const std::string html = join(dir, html_dir);
  if (!platform::is_directory(html)) {
    err << "orvsite backup: " << dir << " is not a site (no " << html << ")\n";
    return 1;
  }
  std::string archive = absolute(file.value_or(default_archive(dir)));
  std::string part = archive + ".part";
  // Created for the owner only before a byte is written: the archive holds
  // the site's private keys.
  platform::remove_file(part);
  if (!platform::create_file_exclusive(part, "", nullptr) || !platform::set_mode(part, 0600)) {
    err << "orvsite backup: cannot write " << part << "\n";
    return 1;
  }
  platform::run_lock lock(join(html, site::lock_file));
  if (!lock.held()) {
    platform::remove_file(part);
    err << "orvsite backup: cannot lock " << join(html, site::lock_file) << "\n";
    return 1;
  }
  // Owners as numbers, so a restore on another machine keeps them. The
  // sockets of the connections the put script keeps open are no data.
  int status = platform::run_tool("tar",
                                  {"--create", "--gzip", "--numeric-owner", "--exclude",
                                   std::string(html_dir) + "/ssh/control", "--file", part, html_dir},
                                  absolute(dir));
  if (status != 0) {
    platform::remove_file(part);
    err << "orvsite backup: tar ended with status " << status << "; no archive written\n";
    return 1;
  }
  std::error_code ec;
  fs::rename(part, archive, ec);
  if (ec) {
    platform::remove_file(part);
    err << "orvsite backup: cannot rename " << part << " to " << archive << ": " << ec.message()
        << "\n";
    return 1;
  }
  out << "backed up " << html << " into " << archive << "\n";
  return 0;
}

int restore_command(const std::string& dir, const std::string& file, std::ostream& out,
                    std::ostream& err) {
  const std::string site = absolute(dir);
  const std::string html = join(site, html_dir);
  const std::string archive = absolute(file);
  if (!platform::exists(archive)) {
    err << "orvsite restore: no archive " << archive << "\n";
    return 1;
  }
  if (!platform::is_directory(site)) {
    err << "orvsite restore: no site directory " << site << "\n";
    return 1;
  }
  // Every entry is looked at before anything is unpacked.
  std::string why;
  if (!archive_entries_fit(archive, &why)) {
    err << "orvsite restore: " << archive << ": " << why << "; " << site << " is unchanged\n";
    return 1;
  }
  if (!platform::is_directory(html) && !platform::make_directory(html)) {
    err << "orvsite restore: cannot make " << html << "\n";
    return 1;
  }
  platform::run_lock lock(join(html, site::lock_file));
  if (!lock.held()) {
    err << "orvsite restore: cannot lock " << join(html, site::lock_file) << "\n";
    return 1;
  }
  // Unpacked beside html first (one file system, so the entries can be
  // renamed in), owners and modes as in the archive. The folder belongs to
  // html's owner, so that the site's own programs can finish a swap that
  // was cut short.
  const std::string aside = join(site, site::restore_aside_name(platform::process_id()));
  platform::remove_tree(aside);
  if (!platform::make_directory(aside)) {
    err << "orvsite restore: cannot make " << aside << "\n";
    return 1;
  }
  if (std::optional<platform::entry_access> owner = platform::access_of(html)) {
    platform::set_owner(aside, owner->owner, owner->group);
  }
  auto give_up = [&](const std::string& reason) {
    platform::remove_tree(aside);
    err << "orvsite restore: " << reason << "; " << site << " is unchanged\n";
    return 1;
  };
  int status = platform::run_tool("tar", {"--extract", "--gzip", "--preserve-permissions",
                                          "--same-owner", "--numeric-owner", "--file", archive,
                                          "--exclude", std::string(html_dir) + "/" + site::lock_file,
                                          html_dir},
                                  aside);
  site::restore_stop_point();
  const std::string unpacked = join(aside, html_dir);
  if (status != 0) return give_up("tar ended with status " + std::to_string(status));
  std::optional<platform::entry_access> top = platform::access_of(unpacked);
  if (!top || !top->directory) return give_up(archive + " holds no html directory");
  if (std::optional<std::string> odd = odd_entry(unpacked, html_dir)) {
    return give_up(archive + ": " + *odd);
  }
  // Files a killed save left in the copy: numbered for processes of the
  // time of the backup, they would never be told from a running write.
  platform::remove_leftover_parts(unpacked, true);
  platform::remove_leftover_parts(join(unpacked, engine::backup_dir), true);
  if (!keep_counters_ahead(html, unpacked, &why)) return give_up(why);

  if (!site::swap_in_restore(site, aside, &why)) {
    err << "orvsite restore: " << why << " (the next request or orvsite command finishes the "
        << "restore)\n";
    return 1;
  }
  out << "restored " << html << " from " << archive << "\n";
  return check_command(dir, out, err);
}

int finish_cut_restore(const std::string& dir, std::ostream& err) {
  if (!site::restore_left_over(dir)) return 0;
  const std::string html = join(dir, html_dir);
  platform::run_lock lock(join(html, site::lock_file));
  if (!lock.held()) {
    err << "orvsite: cannot lock " << join(html, site::lock_file) << "\n";
    return 1;
  }
  std::string why;
  std::optional<std::string> done = site::finish_restore(dir, &why);
  if (!why.empty()) {
    err << "orvsite: " << dir << ": " << done.value_or("a restore cut short") << ": " << why
        << "\n";
    return 1;
  }
  if (done) err << "orvsite: " << dir << ": " << *done << "\n";
  return 0;
}

}  // namespace orvsite
