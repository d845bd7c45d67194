// Local stream sockets on Linux (AF_UNIX).
#include "platform/local_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace platform {
namespace {

// The address of `path`; false when the path is too long for one.
bool address_of(const std::string& path, sockaddr_un* a, std::string* err) {
  std::memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof a->sun_path) return fail(err, path, ENAMETOOLONG);
  std::memcpy(a->sun_path, path.data(), path.size());
  return true;
}

// Waits until `fd` can be read; false when the time ran out or poll failed.
bool readable(int fd, int timeout_ms) {
  struct pollfd p = {fd, POLLIN, 0};
  for (;;) {
    int n = ::poll(&p, 1, timeout_ms);
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

}  // namespace

unique_fd listen_local(const std::string& path, std::string* err) {
  sockaddr_un a;
  if (!address_of(path, &a, err)) return unique_fd();
  unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return fail(err, "socket", errno), unique_fd();
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return fail(err, path, EEXIST), unique_fd();
    // Someone still listening keeps it; a leftover goes.
    unique_fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe && ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
      return fail(err, path, EADDRINUSE), unique_fd();
    }
    ::unlink(path.c_str());
  }
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(fd.get(), 64) != 0) {
    return fail(err, path, errno), unique_fd();
  }
  return fd;
}

unique_fd accept_local(int listener, int timeout_ms) {
  if (!readable(listener, timeout_ms)) return unique_fd();
  unique_fd fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  // Only this user's own processes are served, whatever the rights of the
  // socket's directory.
  struct ucred who {};
  socklen_t size = sizeof who;
  if (fd && (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &who, &size) != 0 ||
             who.uid != ::geteuid())) {
    fd.reset();
  }
  return fd;
}

unique_fd connect_local(const std::string& path, std::string* err) {
  sockaddr_un a;
  if (!address_of(path, &a, err)) return unique_fd();
  unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return fail(err, "socket", errno), unique_fd();
  while (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    if (errno != EINTR) return fail(err, path, errno), unique_fd();
  }
  return fd;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

long read_some(int fd, char* buf, unsigned long size, int timeout_ms) {
  if (!readable(fd, timeout_ms)) return -1;
  for (;;) {
    ssize_t n = ::read(fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace platform
