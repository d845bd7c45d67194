// Reading a data file that must be the site's own.
#include "platform/site_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "not a regular file";
}

// Closes the descriptor when the read ends, however it ends.
struct closer {
  int fd;
  ~closer() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool plain_site_file_or_absent(const std::string& path, std::string* err) {
  std::string why;
  if (read_site_file(path, &why, 0) || why.empty()) return true;
  // Only the size bound of 0 may have refused it: then it is plain.
  if (why.find(" bytes, more than the 0 it may hold") != std::string::npos) return true;
  *err = why;
  return false;
}

bool site_directory_or_absent(const std::string& path, std::string* err) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    *err = path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) return true;
  *err = path + ": not a folder of the site (" +
         (S_ISREG(st.st_mode) ? std::string("a plain file") : kind_of(st.st_mode)) + ")";
  return false;
}

std::optional<std::string> read_site_file(const std::string& path, std::string* err,
                                          std::size_t max_bytes) {
  err->clear();
  // O_NOFOLLOW refuses a link as the last component (ELOOP); O_NONBLOCK
  // keeps the open of a FIFO from waiting for a writer, and fstat tells
  // what was opened before a byte is read.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    int e = errno;
    if (e == ENOENT) return std::nullopt;
    struct stat st {};
    if (e == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      *err = path + ": not a plain file of the site (a symbolic link)";
    } else {
      *err = path + ": " + std::strerror(e);
    }
    return std::nullopt;
  }
  closer guard{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    *err = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (S_ISDIR(st.st_mode)) {  // told as the system tells it, like any unreadable file
    *err = path + ": " + std::strerror(EISDIR);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    *err = path + ": not a plain file of the site (" + kind_of(st.st_mode) + ")";
    return std::nullopt;
  }
  if (st.st_size < 0 || static_cast<std::size_t>(st.st_size) > max_bytes) {
    *err = path + ": " + std::to_string(st.st_size) + " bytes, more than the " +
           std::to_string(max_bytes) + " it may hold";
    return std::nullopt;
  }
  // A regular file: clear O_NONBLOCK (it means nothing here, but keeps the
  // reads plain) and read it to its end, never past the bound. The size
  // fstat gave is read straight into place; a file that grew meanwhile is
  // taken on in small steps, so a large store is never held twice over.
  ::fcntl(fd, F_SETFL, 0);
  std::string data(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t have = 0;
  char more[65536];
  for (;;) {
    const bool in_place = have < data.size();
    ssize_t n = in_place ? ::read(fd, data.data() + have, data.size() - have)
                         : ::read(fd, more, sizeof more);
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = path + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    if (!in_place) {
      if (have + static_cast<std::size_t>(n) > max_bytes) {
        *err = path + ": grew past the " + std::to_string(max_bytes) + " bytes it may hold";
        return std::nullopt;
      }
      data.append(more, static_cast<std::size_t>(n));
    }
    have += static_cast<std::size_t>(n);
  }
  data.resize(have);
  return data;
}

}  // namespace platform
