// Local stream sockets, for the processes of one user on this machine to
// talk to each other (a socket file is guarded by its directory's rights).
#pragma once

#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

/// A socket listening at `path` (a socket file left there by a process
/// that is gone is replaced; a file of any other kind is not). Nothing
/// held, with `*err`, on failure.
unique_fd listen_local(const std::string& path, std::string* err);

/// The next connection to `listener` within `timeout_ms` milliseconds (-1:
/// no limit); nothing held when none came, the wait failed or the process
/// at the other end is not this user's.
unique_fd accept_local(int listener, int timeout_ms);

/// A connection to the socket at `path`; nothing held, with `*err`, when
/// nobody listens there.
unique_fd connect_local(const std::string& path, std::string* err);

/// Writes all of `data` to the descriptor `fd` (a socket or a pipe); false
/// when the other end is gone or the write fails. A socket's closed end
/// raises no signal; for a pipe the caller ignores SIGPIPE.
bool write_all(int fd, std::string_view data);

/// Reads up to `size` bytes into `buf`, waiting at most `timeout_ms`
/// milliseconds (-1: no limit): the count, 0 at the end, -1 on a failure
/// or when the time ran out.
long read_some(int fd, char* buf, unsigned long size, int timeout_ms);

}  // namespace platform
