#include "platform/unique_fd.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

void unique_fd::reset(int fd) {
  // Linux frees the descriptor even when close reports EINTR: it is never
  // closed a second time.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

bool unique_fd::close() {
  if (fd_ < 0) return true;
  int fd = std::exchange(fd_, -1);
  return ::close(fd) == 0 || errno == EINTR;
}

}  // namespace platform
