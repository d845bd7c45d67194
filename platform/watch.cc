// Directory watching on Linux (inotify).
#include "platform/watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace platform {

directory_watch::directory_watch() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
  if (!fd_) errno_ = errno;
}

bool directory_watch::add(const std::string& dir, std::string* err) {
  if (!fd_) return fail(err, "inotify", errno_);
  if (::inotify_add_watch(fd_.get(), dir.c_str(), IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
    return fail(err, dir, errno);
  }
  return true;
}

bool directory_watch::wait(int timeout_ms) {
  if (!fd_) return false;
  struct pollfd p = {fd_.get(), POLLIN, 0};
  int n = ::poll(&p, 1, timeout_ms);
  if (n <= 0) return false;
  bool any = false;
  alignas(struct inotify_event) char buf[8192];
  for (;;) {
    ssize_t got = ::read(fd_.get(), buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EAGAIN: the queue is empty
    any = true;
  }
  return any;
}

}  // namespace platform
