// Who holds a lock file, and since when a process runs: what a status
// report needs to tell a lock that is held too long.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

/// The process id the kernel names for the `flock` held on the file
/// `path`; nothing when no lock is held on it (or that cannot be told).
/// The process may be gone while the lock stays held by an open file it
/// handed on (a shell's `flock` command, for example).
std::optional<int> flock_holder(const std::string& path);

/// When the process `pid` started, in seconds since 1970; nothing when no
/// such process runs.
std::optional<std::int64_t> process_started(int pid);

/// Free bytes for an unprivileged user on the file system of `path`;
/// nothing when that cannot be told.
std::optional<std::int64_t> free_bytes(const std::string& path);

}  // namespace platform
