// `orvsite backup` and `orvsite restore`.
#include "programs/orvsite/backup_command.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"
#include "programs/orvsite/check_command.h"
#include "programs/orvsite/site_files.h"
#include "site/request.h"

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
  // Owners as numbers, so a restore on another machine keeps them.
  int status = platform::run_tool(
      "tar", {"--create", "--gzip", "--numeric-owner", "--file", part, html_dir}, absolute(dir));
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
  // renamed in), owners and modes as in the archive.
  const std::string aside = join(site, ".restore." + std::to_string(platform::process_id()));
  std::error_code ec;
  fs::remove_all(aside, ec);
  if (!platform::make_directory(aside)) {
    err << "orvsite restore: cannot make " << aside << "\n";
    return 1;
  }
  auto give_up = [&](const std::string& why) {
    fs::remove_all(aside, ec);
    err << "orvsite restore: " << why << "; " << site << " is unchanged\n";
    return 1;
  };
  int status = platform::run_tool("tar", {"--extract", "--gzip", "--preserve-permissions",
                                          "--same-owner", "--numeric-owner", "--file", archive,
                                          "--exclude", std::string(html_dir) + "/" + site::lock_file,
                                          html_dir},
                                  aside);
  const std::string unpacked = join(aside, html_dir);
  if (status != 0) return give_up("tar ended with status " + std::to_string(status));
  std::optional<platform::entry_access> top = platform::access_of(unpacked);
  if (!top || !top->directory) return give_up(archive + " holds no html directory");

  // Out with the old entries (but the lock file), in with the new ones.
  for (const fs::directory_entry& e : fs::directory_iterator(html, ec)) {
    if (e.path().filename() == site::lock_file) continue;
    fs::remove_all(e.path(), ec);
    if (ec) {
      err << "orvsite restore: cannot remove " << e.path().string() << ": " << ec.message()
          << " (the archive's files are in " << aside << ")\n";
      return 1;
    }
  }
  for (const fs::directory_entry& e : fs::directory_iterator(unpacked, ec)) {
    fs::rename(e.path(), fs::path(html) / e.path().filename(), ec);
    if (ec) {
      err << "orvsite restore: cannot move " << e.path().string() << " into " << html << ": "
          << ec.message() << " (the rest stays in " << aside << ")\n";
      return 1;
    }
  }
  platform::set_mode(html, top->mode);
  platform::set_owner(html, top->owner, top->group);
  platform::set_owner(join(html, site::lock_file), top->owner, top->group);
  fs::remove_all(aside, ec);
  out << "restored " << html << " from " << archive << "\n";
  return check_command(dir, out, err);
}

}  // namespace orvsite
