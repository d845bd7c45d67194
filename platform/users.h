// Users, groups and who may do what with a file (errors: platform/error.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// Who may do what with a file system entry.
struct entry_access {
  std::uint32_t owner = 0;   // user id
  std::uint32_t group = 0;   // group id
  unsigned mode = 0;         // permission bits (07777)
  bool directory = false;
  bool regular = false;      // a regular file
  bool symlink = false;
  std::uint64_t links = 0;   // hard links
};

/// The owner, group, mode and kind of `path` (links are not followed), or
/// nothing when it does not exist.
std::optional<entry_access> access_of(const std::string& path);

/// A user of the system as the permission checks see it.
struct user_account {
  std::string name;
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;                // primary group
  std::vector<std::uint32_t> groups;    // every group, the primary one too
};

/// The user `name`, or the user with that number when `name` is a number;
/// nothing when there is no such user.
std::optional<user_account> find_user(const std::string& name);

/// Gives `path` (not followed when a link) the owner `uid` and group `gid`;
/// false when that is not possible.
bool set_owner(const std::string& path, std::uint32_t uid, std::uint32_t gid);

/// The name of the user with id `uid`, or the number as text.
std::string user_name(std::uint32_t uid);

}  // namespace platform
