// Reading a data file that must be the site's own.
#include "platform/site_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/unique_fd.h"

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

// Opens `path` for reading if it is a plain file of the site of at most
// `max_bytes` bytes; its size goes to `*size`. A refused file gives no
// descriptor and `*err` says why (empty for a missing file).
unique_fd open_site_file(const std::string& path, std::string* err, std::size_t max_bytes,
                         std::size_t* size) {
  err->clear();
  // O_NOFOLLOW refuses a link as the last component (ELOOP); O_NONBLOCK
  // keeps the open of a FIFO from waiting for a writer, and fstat tells
  // what was opened before a byte is read.
  unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!fd) {
    int e = errno;
    if (e == ENOENT) return {};
    struct stat st {};
    if (e == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      *err = path + ": not a plain file of the site (a symbolic link)";
    } else {
      *err = path + ": " + std::strerror(e);
    }
    return {};
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    *err = path + ": " + std::strerror(errno);
    return {};
  }
  if (S_ISDIR(st.st_mode)) {  // told as the system tells it, like any unreadable file
    *err = path + ": " + std::strerror(EISDIR);
    return {};
  }
  if (!S_ISREG(st.st_mode)) {
    *err = path + ": not a plain file of the site (" + kind_of(st.st_mode) + ")";
    return {};
  }
  if (st.st_size < 0 || static_cast<std::size_t>(st.st_size) > max_bytes) {
    *err = path + ": " + std::to_string(st.st_size) + " bytes, more than the " +
           std::to_string(max_bytes) + " it may hold";
    return {};
  }
  // A regular file: clear O_NONBLOCK (it means nothing here, but keeps the
  // reads plain).
  ::fcntl(fd.get(), F_SETFL, 0);
  *size = static_cast<std::size_t>(st.st_size);
  return fd;
}

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
  std::size_t size = 0;
  unique_fd fd = open_site_file(path, err, max_bytes, &size);
  if (!fd) return std::nullopt;
  // Read to the end, never past the bound. The size fstat gave is read
  // straight into place; a file that grew meanwhile is taken on in small
  // steps, so a large store is never held twice over.
  std::string data(size, '\0');
  std::size_t have = 0;
  char more[65536];
  for (;;) {
    const bool in_place = have < data.size();
    ssize_t n = in_place ? ::read(fd.get(), data.data() + have, data.size() - have)
                         : ::read(fd.get(), more, sizeof more);
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


std::optional<std::string> read_site_file_tail(const std::string& path, std::string* err,
                                               std::size_t max_bytes) {
  std::size_t size = 0;
  unique_fd fd = open_site_file(path, err, static_cast<std::size_t>(-1) >> 1, &size);
  if (!fd) return std::nullopt;
  std::size_t from = size > max_bytes ? size - max_bytes : 0;
  std::string data(size - from, '\0');
  std::size_t have = 0;
  while (have < data.size()) {
    ssize_t n = ::pread(fd.get(), data.data() + have, data.size() - have,
                        static_cast<off_t>(from + have));
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = path + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;  // shortened meanwhile: what was there
    have += static_cast<std::size_t>(n);
  }
  data.resize(have);
  // A tail that starts inside a line leaves that line out.
  if (from > 0) {
    std::size_t eol = data.find('\n');
    data.erase(0, eol == std::string::npos ? data.size() : eol + 1);
  }
  return data;
}

}  // namespace platform
