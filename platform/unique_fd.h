// An open file descriptor with one owner: it is closed exactly once, when
// its owner goes, is reset, or hands it on by moving.
#pragma once

#include <utility>

namespace platform {

class unique_fd {
 public:
  unique_fd() = default;
  /// Takes `fd` (which may be -1: nothing held).
  explicit unique_fd(int fd) : fd_(fd) {}
  unique_fd(unique_fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  unique_fd& operator=(unique_fd&& o) noexcept {
    if (this != &o) reset(std::exchange(o.fd_, -1));
    return *this;
  }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  ~unique_fd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  /// Gives up ownership without closing.
  int release() { return std::exchange(fd_, -1); }

  /// Closes what is held (if anything) and takes `fd`.
  void reset(int fd = -1);

  /// Closes now and reports the close's own failure (a write-back error
  /// on some file systems): true when nothing was held or close succeeded.
  bool close();

 private:
  int fd_ = -1;
};

}  // namespace platform
