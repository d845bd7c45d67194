// Directory watching on Linux (inotify).
#include "platform/watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstring>

#include "platform/error.h"

namespace platform {
namespace {

// The watched directory itself gone, moved, unmounted, or its watch ended.
constexpr std::uint32_t self_gone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

// Adds the watch of `dir`; its descriptor, or -1 with `*err` (empty for a
// missing `dir`).
int add_watch(int fd, int no_fd_errno, const std::string& dir, std::uint32_t mask,
              std::string* err) {
  err->clear();
  if (fd < 0) {
    fail(err, "inotify", no_fd_errno);
    return -1;
  }
  int wd = ::inotify_add_watch(fd, dir.c_str(), mask | IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF);
  if (wd < 0 && errno != ENOENT) fail(err, dir, errno);
  return wd;
}

}  // namespace

directory_watch::directory_watch() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
  if (!fd_) errno_ = errno;
}

bool directory_watch::add(const std::string& dir, std::string* err) {
  int wd = add_watch(fd_.get(), errno_, dir, IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE, err);
  if (wd < 0) return false;
  watches_[wd].clear();
  return true;
}

bool directory_watch::add_names(const std::string& dir, const std::set<std::string>& names,
                                std::string* err) {
  int wd = add_watch(fd_.get(), errno_, dir, IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE,
                     err);
  if (wd < 0) return false;
  watches_[wd] = names;
  return true;
}

directory_watch::events directory_watch::wait(int timeout_ms) {
  events seen;
  if (!fd_) return seen;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  alignas(struct inotify_event) char buf[8192];
  while (!seen) {
    int left = -1;
    if (timeout_ms >= 0) {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      left = ms.count() > 0 ? static_cast<int>(ms.count()) : 0;
    }
    struct pollfd p = {fd_.get(), POLLIN, 0};
    int n = ::poll(&p, 1, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (;;) {
      ssize_t got = ::read(fd_.get(), buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // EAGAIN: the queue is empty
      for (ssize_t at = 0; at < got;) {
        const auto* e = reinterpret_cast<const struct inotify_event*>(buf + at);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
        if (e->mask & IN_Q_OVERFLOW) {
          seen.changed = true;  // what was dropped is unknown: look again
          continue;
        }
        auto w = watches_.find(e->wd);
        if (w == watches_.end()) continue;  // a watch removed meanwhile
        if (e->mask & self_gone) {
          seen.changed = true;
        } else if (w->second.empty()) {
          seen.arrived = true;
        } else if (e->len > 0 && w->second.count(e->name)) {
          seen.changed = true;
        }
      }
    }
  }
  return seen;
}

}  // namespace platform
