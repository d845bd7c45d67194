// Users and permissions on Linux (POSIX calls only).
#include "platform/users.h"
#include "text/text.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace platform {

std::optional<entry_access> access_of(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  entry_access a;
  a.owner = st.st_uid;
  a.group = st.st_gid;
  a.mode = st.st_mode & 07777;
  a.directory = S_ISDIR(st.st_mode);
  a.regular = S_ISREG(st.st_mode);
  a.symlink = S_ISLNK(st.st_mode);
  a.links = static_cast<std::uint64_t>(st.st_nlink);
  return a;
}

std::optional<user_account> find_user(const std::string& name) {
  struct passwd pw;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  // A number of up to nine digits is a user id.
  std::optional<uid_t> number = text::parse_number<uid_t>(name, 0, 999999999);
  int err = number ? ::getpwuid_r(*number, &pw, buffer.data(), buffer.size(), &found)
                   : ::getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &found);
  if (err != 0 || !found) return std::nullopt;
  user_account u;
  u.name = pw.pw_name;
  u.uid = pw.pw_uid;
  u.gid = pw.pw_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) count = 0;
  }
  for (int i = 0; i < count; ++i) u.groups.push_back(groups[static_cast<size_t>(i)]);
  if (std::find(u.groups.begin(), u.groups.end(), u.gid) == u.groups.end()) {
    u.groups.push_back(u.gid);
  }
  return u;
}

bool set_owner(const std::string& path, std::uint32_t uid, std::uint32_t gid) {
  return ::lchown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0;
}

std::string user_name(std::uint32_t uid) {
  struct passwd pw;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(static_cast<uid_t>(uid), &pw, buffer.data(), buffer.size(), &found) == 0 &&
      found) {
    return pw.pw_name;
  }
  return std::to_string(uid);
}

}  // namespace platform
