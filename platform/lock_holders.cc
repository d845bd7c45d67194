// Linux: the locks from /proc/locks, the start of a process from
// /proc/PID/stat and the boot time, the free space from statvfs.
#include "platform/lock_holders.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "platform/files.h"

namespace platform {

std::optional<int> flock_holder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::istringstream locks(read_file("/proc/locks").value_or(""));
  // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line has "->".
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string number, kind, mode, access, pid, file;
    if (!(words >> number >> kind)) continue;
    if (kind == "->") continue;
    if (!(words >> mode >> access >> pid >> file)) continue;
    if (kind != "FLOCK" || file != id) continue;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid.size() > 9) {
      continue;
    }
    return std::stoi(pid);
  }
  return std::nullopt;
}

std::optional<std::int64_t> process_started(int pid) {
  std::optional<std::string> stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return std::nullopt;
  // The command name in parentheses may hold blanks: count from its end.
  size_t close = stat->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(close + 2));
  std::string f;
  unsigned long long start_ticks = 0;
  // Field 22 (starttime) is the 20th after the name.
  for (int i = 3; i <= 22 && fields >> f; ++i) {
    if (i == 22) start_ticks = std::stoull(f);
  }
  std::istringstream boot(read_file("/proc/stat").value_or(""));
  for (std::string line; std::getline(boot, line);) {
    if (line.rfind("btime ", 0) != 0) continue;
    long ticks = ::sysconf(_SC_CLK_TCK);
    if (ticks <= 0) return std::nullopt;
    return std::stoll(line.substr(6)) + static_cast<std::int64_t>(start_ticks / static_cast<unsigned long long>(ticks));
  }
  return std::nullopt;
}

std::optional<std::int64_t> free_bytes(const std::string& path) {
  struct statvfs v {};
  if (::statvfs(path.c_str(), &v) != 0) return std::nullopt;
  return static_cast<std::int64_t>(v.f_bavail) * static_cast<std::int64_t>(v.f_frsize);
}

}  // namespace platform
