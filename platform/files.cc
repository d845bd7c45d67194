// Files and directories on Linux (POSIX calls only).
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>

#include "platform/error.h"
#include "text/text.h"

namespace platform {
namespace {

constexpr mode_t file_mode = 0644;

// Writes all of `data` to `fd`, retrying short writes.
bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Writes the pieces of `text` to `fd` in order, many at a time.
bool write_all(int fd, text_pieces text) {
  constexpr size_t batch = 512;
  std::vector<struct iovec> io;
  io.reserve(std::min(batch, text.size()));
  size_t next = 0;
  while (next < text.size()) {
    io.clear();
    size_t bytes = 0;
    for (; next < text.size() && io.size() < batch; ++next) {
      if (text[next].empty()) continue;
      io.push_back({const_cast<char*>(text[next].data()), text[next].size()});
      bytes += text[next].size();
    }
    size_t first = 0;
    while (bytes > 0) {
      ssize_t n = ::writev(fd, io.data() + first, static_cast<int>(io.size() - first));
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      // A short write: skip what was written and go on from there.
      auto done = static_cast<size_t>(n);
      bytes -= done;
      while (first < io.size() && done >= io[first].iov_len) done -= io[first++].iov_len;
      if (first < io.size()) {
        io[first].iov_base = static_cast<char*>(io[first].iov_base) + done;
        io[first].iov_len -= done;
      }
    }
  }
  return true;
}

// A name beside `path` for a file that is written before it is renamed.
std::string aside_name(const std::string& path) {
  static unsigned counter = 0;  // distinguishes several files of one run
  return path + ".part." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

// Writes `contents` into a fresh file named `aside`. On failure the partial
// file is removed.
bool write_aside(const std::string& aside, text_pieces contents, std::string* err,
                 bool durable = true) {
  unique_fd fd(::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode));
  if (!fd) return fail(err, aside, errno);
  errno = 0;
  bool ok = write_all(fd.get(), contents) && (!durable || ::fsync(fd.get()) == 0);
  int saved = errno;
  ok = fd.close() && ok;
  if (!ok) {
    fail(err, aside, saved ? saved : errno);
    ::unlink(aside.c_str());
  }
  return ok;
}

// Writes `contents` to `aside` and links it to `path`; the aside name is
// always removed again.
bool link_into_place(const std::string& aside, const std::string& path, text_pieces contents,
                     std::string* err) {
  if (!write_aside(aside, contents, err)) return false;
  // link() fails when the name is taken, so an existing file is never replaced.
  bool ok = ::link(aside.c_str(), path.c_str()) == 0;
  if (!ok) fail(err, path, errno);
  ::unlink(aside.c_str());
  return ok;
}

}  // namespace

bool make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return is_directory(path);
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool copy_file(const std::string& from, const std::string& to) {
  std::optional<std::string> data = read_file(from);
  if (!data) return false;
  return create_file_exclusive(to, *data, nullptr);
}

std::vector<std::string> list_files_oldest_first(const std::string& dir) {
  struct entry {
    std::int64_t sec;
    long nsec;
    std::string name;
  };
  std::vector<entry> found;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::lstat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    found.push_back({static_cast<std::int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec, name});
  }
  ::closedir(d);
  std::sort(found.begin(), found.end(), [](const entry& a, const entry& b) {
    return std::tie(a.sec, a.nsec, a.name) < std::tie(b.sec, b.nsec, b.name);
  });
  std::vector<std::string> names;
  names.reserve(found.size());
  for (entry& e : found) names.push_back(std::move(e.name));
  return names;
}

std::vector<std::string> list_file_names(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (struct dirent* e = ::readdir(d)) {
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      if (::lstat((dir + "/" + e->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    } else if (e->d_type != DT_REG) {
      continue;
    }
    names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

int link_file(const std::string& existing, const std::string& path) {
  return ::link(existing.c_str(), path.c_str()) == 0 ? 0 : errno;
}

std::optional<std::string> directory_stamp(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " +
         std::to_string(st.st_mtim.tv_sec) + " " + std::to_string(st.st_mtim.tv_nsec);
}

bool backdate_modification(const std::string& path) {
  struct timespec now;
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1] = now;
  times[1].tv_sec -= 1;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool replace_file(const std::string& path, std::string_view contents, std::string* err,
                  bool durable) {
  std::string aside = aside_name(path);
  if (!write_aside(aside, text_pieces(&contents, 1), err, durable)) return false;
  if (::rename(aside.c_str(), path.c_str()) != 0) {
    fail(err, path, errno);
    ::unlink(aside.c_str());
    return false;
  }
  return true;
}

bool create_file_exclusive(const std::string& path, std::string_view contents, std::string* err) {
  return link_into_place(aside_name(path), path, text_pieces(&contents, 1), err);
}

std::optional<aside_file> aside_file::write(const std::string& path, text_pieces text,
                                            std::string* err) {
  // Failures name the file meant, not the name beside it.
  std::string name = aside_name(path);
  unique_fd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode));
  if (!fd) return fail(err, path, errno), std::nullopt;
  if (!write_all(fd.get(), text)) {
    fail(err, path, errno);
    fd.reset();
    ::unlink(name.c_str());
    return std::nullopt;
  }
  // The system starts writing the pages now; a later `sync` finds most of
  // them written.
  ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  return aside_file(std::move(name), path, std::move(fd));
}

aside_file::aside_file(aside_file&& o) noexcept
    : name_(std::move(o.name_)),
      meant_(std::move(o.meant_)),
      fd_(std::move(o.fd_)),
      renamed_(o.renamed_) {
  o.name_.clear();
}

aside_file::~aside_file() {
  fd_.reset();
  if (!renamed_ && !name_.empty()) ::unlink(name_.c_str());
}

bool aside_file::sync(std::string* err) {
  if (::fsync(fd_.get()) == 0) return true;
  return fail(err, meant_, errno);
}

int aside_file::link_to(const std::string& path) {
  if (::link(name_.c_str(), path.c_str()) != 0) return errno;
  ::unlink(name_.c_str());
  renamed_ = true;
  return 0;
}

bool aside_file::rename_to(const std::string& path, std::string* err) {
  if (::rename(name_.c_str(), path.c_str()) != 0) return fail(err, path, errno);
  renamed_ = true;
  return true;
}

bool create_file_exclusive_via(const std::string& path, const std::string& aside_dir,
                               std::string_view contents, std::string* err) {
  std::string::size_type slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return link_into_place(aside_name(aside_dir + "/" + base), path, text_pieces(&contents, 1),
                         err);
}

bool append_file(const std::string& path, std::string_view contents, std::string* err) {
  unique_fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, file_mode));
  if (!fd) return fail(err, path, errno);
  errno = 0;
  bool ok = write_all(fd.get(), contents);
  int saved = errno;
  ok = fd.close() && ok;
  if (!ok) fail(err, path, saved ? saved : errno);
  return ok;
}

std::optional<std::string> read_file(const std::string& path) {
  std::string err;
  return read_file(path, &err);
}

std::optional<std::string> read_file(const std::string& path, std::string* err) {
  err->clear();
  auto failed = [&](int e) {
    // Only a name that does not exist means "no file".
    if (e != ENOENT) *err = system_error(path, e);
    return std::nullopt;
  };
  unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return failed(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failed(errno);
  if (S_ISDIR(st.st_mode)) return failed(EISDIR);
  // Read straight into the text, sized by the file; a file that grows
  // meanwhile is read on to its end.
  std::string data;
  size_t have = 0;
  data.resize(static_cast<size_t>(st.st_size > 0 ? st.st_size : 0) + 1);
  for (;;) {
    if (have == data.size()) data.resize(data.size() * 2);
    ssize_t n = ::read(fd.get(), data.data() + have, data.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(errno);
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  data.resize(have);
  return data;
}

bool readable_or_absent(const std::string& path, std::string* err) {
  unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return errno == ENOENT || fail(err, path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fail(err, path, errno);
  if (S_ISDIR(st.st_mode)) return fail(err, path, EISDIR);
  return true;
}

bool writable_directory(const std::string& path, std::string* err) {
  struct stat st;
  int e = 0;
  if (::stat(path.c_str(), &st) != 0) {
    e = errno;
  } else if (!S_ISDIR(st.st_mode)) {
    e = ENOTDIR;
  } else if (::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    e = errno;
  }
  return e == 0 || fail(err, path, e);
}

std::optional<file_info> stat_file(const std::string& path, bool follow_links) {
  struct stat st;
  if ((follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
    return std::nullopt;
  }
  entry_kind kind = S_ISREG(st.st_mode)    ? entry_kind::file
                    : S_ISDIR(st.st_mode)  ? entry_kind::directory
                    : S_ISLNK(st.st_mode)  ? entry_kind::link
                    : S_ISSOCK(st.st_mode) ? entry_kind::socket
                                           : entry_kind::other;
  return file_info{kind, st.st_uid == ::geteuid(), static_cast<std::int64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec,
                   static_cast<std::int64_t>(st.st_ctim.tv_sec)};
}

bool may_read(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
}

std::optional<std::string> make_temp_directory(const std::string& prefix, std::string* err) {
  std::string name = prefix + "XXXXXX";
  if (!::mkdtemp(name.data())) return fail(err, name, errno), std::nullopt;
  return name;
}

std::vector<std::string> list_directories(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (is_directory(dir + "/" + name)) names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::vector<std::string>> list_entries(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return std::nullopt;
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool remove_tree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) {
    // Entries the folder cannot list or give up are still tried below: the
    // folder itself then stays, and the result says so.
    for (const std::string& name : list_entries(path).value_or(std::vector<std::string>{})) {
      remove_tree(path + "/" + name);
    }
    return ::rmdir(path.c_str()) == 0 || errno == ENOENT;
  }
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool set_mode(const std::string& path, unsigned mode) {
  return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

int remove_leftover_parts(const std::string& dir, bool any_owner) {
  int removed = 0;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(d)) names.push_back(e->d_name);
  ::closedir(d);
  for (const std::string& name : names) {
    // name.part.<pid>.<n>, as aside_name makes them
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) continue;
    size_t pid_dot = dot == 0 ? std::string::npos : name.rfind('.', dot - 1);
    if (pid_dot == std::string::npos || pid_dot + 1 == dot) continue;
    if (pid_dot < 5 || name.compare(pid_dot - 5, 5, ".part") != 0) continue;
    std::string n = name.substr(dot + 1);
    std::string pid = name.substr(pid_dot + 1, dot - pid_dot - 1);
    std::optional<pid_t> owner = text::parse_number<pid_t>(pid, 0, 999999999);
    if (n.find_first_not_of("0123456789") != std::string::npos || !owner) continue;
    // A running process may still be writing it (another program of the
    // site, or this run).
    if (!any_owner && (*owner == ::getpid() || ::kill(*owner, 0) == 0 || errno != ESRCH)) continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

bool truncate_file(const std::string& path, std::int64_t size) {
  return ::truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

std::optional<std::string> file_identity(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(st.st_ino));
}

bool rename_file(const std::string& from, const std::string& to, std::string* err) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  *err = std::strerror(errno);
  return false;
}

bool move_file_exclusive(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EPERM) {
      // Links to another user's file may be refused where a rename is not;
      // callers hold the run lock, so the name stays free meanwhile.
      struct stat st;
      if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
      return ::rename(from.c_str(), to.c_str()) == 0;
    }
    // A move killed between its two steps left the file under both names.
    struct stat a, b;
    if (errno != EEXIST || ::stat(from.c_str(), &a) != 0 || ::stat(to.c_str(), &b) != 0 ||
        a.st_dev != b.st_dev || a.st_ino != b.st_ino) {
      return false;
    }
  }
  ::unlink(from.c_str());
  return true;
}

run_lock::run_lock(const std::string& path, int wait_seconds) {
  unique_fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, file_mode));
  if (!fd) return;
  // With a time limit, asked again every 20 ms: flock itself has none.
  const int how = wait_seconds < 0 ? LOCK_EX : LOCK_EX | LOCK_NB;
  for (long tries = 0; ::flock(fd.get(), how) != 0; ++tries) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || tries >= wait_seconds * 50L) return;
    ::usleep(20000);
  }
  fd_ = std::move(fd);
}

}  // namespace platform
