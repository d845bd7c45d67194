// Platform services on Linux (POSIX calls only).
#include "platform/platform.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>

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
  int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode);
  if (fd < 0) {
    if (err) *err = aside + ": " + std::strerror(errno);
    return false;
  }
  bool ok = write_all(fd, contents) && (!durable || ::fsync(fd) == 0);
  int saved = errno;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    if (err) *err = aside + ": " + std::strerror(saved ? saved : errno);
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
  if (!ok && err) *err = path + ": " + std::strerror(errno);
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

bool change_directory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

bool change_directory(const std::string& path, std::string* err) {
  if (::chdir(path.c_str()) == 0) return true;
  *err = path + ": " + std::strerror(errno);
  return false;
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

int run_site_script(const std::string& name) {
  std::fflush(nullptr);  // nothing buffered may be written twice or late
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in >= 0) ::dup2(null_in, STDIN_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    std::string command = "./" + name;
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool replace_file(const std::string& path, std::string_view contents, std::string* err,
                  bool durable) {
  std::string aside = aside_name(path);
  if (!write_aside(aside, text_pieces(&contents, 1), err, durable)) return false;
  if (::rename(aside.c_str(), path.c_str()) != 0) {
    if (err) *err = path + ": " + std::strerror(errno);
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
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode);
  if (fd < 0) {
    if (err) *err = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (!write_all(fd, text)) {
    if (err) *err = path + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(name.c_str());
    return std::nullopt;
  }
  // The system starts writing the pages now; a later `sync` finds most of
  // them written.
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  return aside_file(std::move(name), path, fd);
}

aside_file::aside_file(aside_file&& o) noexcept
    : name_(std::move(o.name_)), meant_(std::move(o.meant_)), fd_(o.fd_), renamed_(o.renamed_) {
  o.fd_ = -1;
  o.name_.clear();
}

aside_file::~aside_file() {
  if (fd_ >= 0) ::close(fd_);
  if (!renamed_ && !name_.empty()) ::unlink(name_.c_str());
}

bool aside_file::sync(std::string* err) {
  if (::fsync(fd_) == 0) return true;
  if (err) *err = meant_ + ": " + std::strerror(errno);
  return false;
}

int aside_file::link_to(const std::string& path) {
  if (::link(name_.c_str(), path.c_str()) != 0) return errno;
  ::unlink(name_.c_str());
  renamed_ = true;
  return 0;
}

bool aside_file::rename_to(const std::string& path, std::string* err) {
  if (::rename(name_.c_str(), path.c_str()) != 0) {
    if (err) *err = path + ": " + std::strerror(errno);
    return false;
  }
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
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, file_mode);
  if (fd < 0) {
    if (err) *err = path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = write_all(fd, contents);
  int saved = errno;
  ok = (::close(fd) == 0) && ok;
  if (!ok && err) *err = path + ": " + std::strerror(saved ? saved : errno);
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
    if (e != ENOENT) *err = path + ": " + std::strerror(e);
    return std::nullopt;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return failed(e);
  }
  // Read straight into the text, sized by the file; a file that grows
  // meanwhile is read on to its end.
  std::string data;
  size_t have = 0;
  data.resize(static_cast<size_t>(st.st_size > 0 ? st.st_size : 0) + 1);
  for (;;) {
    if (have == data.size()) data.resize(data.size() * 2);
    ssize_t n = ::read(fd, data.data() + have, data.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      ::close(fd);
      return failed(e);
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  ::close(fd);
  data.resize(have);
  return data;
}

bool readable_or_absent(const std::string& path, std::string* err) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *err = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  if (!ok) *err = path + ": " + std::strerror(S_ISDIR(st.st_mode) ? EISDIR : errno);
  ::close(fd);
  return ok;
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
  if (e == 0) return true;
  *err = path + ": " + std::strerror(e);
  return false;
}

std::optional<file_info> stat_file(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return file_info{static_cast<std::int64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
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

bool set_mode(const std::string& path, unsigned mode) {
  return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

std::string current_directory() {
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return "";
  return buf;
}

std::string own_executable() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return "";
  return std::string(buf, static_cast<size_t>(n));
}

void restart_with_large_pages(char** argv) {
  constexpr const char* name = "GLIBC_TUNABLES";
  constexpr const char* large_pages = "glibc.malloc.hugetlb=1";
  std::optional<std::string> mode = read_file("/sys/kernel/mm/transparent_hugepage/enabled");
  if (!mode || mode->find("[madvise]") == std::string::npos) return;
  const char* set = std::getenv(name);
  std::string before = set ? set : "";
  if (before.find("glibc.malloc.hugetlb") != std::string::npos) return;
  std::string wanted = before.empty() ? large_pages : before + ":" + large_pages;
  if (::setenv(name, wanted.c_str(), 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // Not restarted: the run goes on as it is, with the environment it had.
  if (set) {
    ::setenv(name, before.c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

bool run_program(const std::string& path, const std::string& dir,
                 const std::vector<std::string>& env, program_result* result, std::string* err,
                 std::string* err_text) {
  std::vector<std::string> env_copy = env;
  std::vector<char*> envp;
  for (std::string& e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = path;
  char* argv[] = {program.data(), nullptr};

  // Standard error to collect goes to a temporary file without a name.
  int err_fd = -1;
  if (err_text) {
    err_text->clear();
    std::FILE* f = std::tmpfile();
    if (f) {
      err_fd = ::dup(::fileno(f));
      std::fclose(f);
    }
    if (err_fd < 0) {
      if (err) *err = std::string("temporary file: ") + std::strerror(errno);
      return false;
    }
    ::fcntl(err_fd, F_SETFD, FD_CLOEXEC);
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    if (err) *err = std::string("pipe: ") + std::strerror(errno);
    if (err_fd >= 0) ::close(err_fd);
    return false;
  }
  std::fflush(nullptr);  // nothing buffered may be written twice
  pid_t pid = ::fork();
  if (pid < 0) {
    if (err) *err = std::string("fork: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    if (err_fd >= 0) ::close(err_fd);
    return false;
  }
  if (pid == 0) {
    int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in < 0 || ::dup2(null_in, STDIN_FILENO) < 0 ||
        ::dup2(fds[1], STDOUT_FILENO) < 0 || ::chdir(dir.c_str()) != 0 ||
        (err_fd >= 0 && ::dup2(err_fd, STDERR_FILENO) < 0)) {
      ::_exit(126);
    }
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  result->out.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result->out.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      if (err) *err = std::string("waitpid: ") + std::strerror(errno);
      if (err_fd >= 0) ::close(err_fd);
      return false;
    }
  }
  result->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (err_fd >= 0) {
    ::lseek(err_fd, 0, SEEK_SET);
    for (;;) {
      ssize_t n = ::read(err_fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      err_text->append(buf, static_cast<size_t>(n));
    }
    ::close(err_fd);
  }
  if (result->status == 126 || result->status == 127) {
    // The shell's convention: the program could not be started at all.
    if (err) *err = path + ": cannot be run in " + dir;
    return false;
  }
  return true;
}

bool stderr_is_journal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  struct stat st;
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
  return dev == static_cast<unsigned long long>(st.st_dev) &&
         ino == static_cast<unsigned long long>(st.st_ino);
}

std::optional<std::string> environment(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

int remove_leftover_parts(const std::string& dir) {
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
    if (n.find_first_not_of("0123456789") != std::string::npos ||
        pid.find_first_not_of("0123456789") != std::string::npos || pid.size() > 9) {
      continue;
    }
    pid_t owner = static_cast<pid_t>(std::stol(pid));
    // A running process may still be writing it (another program of the
    // site, or this run).
    if (owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
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

std::optional<entry_access> access_of(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  entry_access a;
  a.owner = st.st_uid;
  a.group = st.st_gid;
  a.mode = st.st_mode & 07777;
  a.directory = S_ISDIR(st.st_mode);
  a.regular = S_ISREG(st.st_mode);
  a.symlink = S_ISLNK(st.st_mode);
  a.links = static_cast<std::uint64_t>(st.st_nlink);
  return a;
}

std::optional<user_account> find_user(const std::string& name) {
  struct passwd pw;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  bool number = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos &&
                name.size() < 10;
  int err = number ? ::getpwuid_r(static_cast<uid_t>(std::stoul(name)), &pw, buffer.data(),
                                  buffer.size(), &found)
                   : ::getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &found);
  if (err != 0 || !found) return std::nullopt;
  user_account u;
  u.name = pw.pw_name;
  u.uid = pw.pw_uid;
  u.gid = pw.pw_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) count = 0;
  }
  for (int i = 0; i < count; ++i) u.groups.push_back(groups[static_cast<size_t>(i)]);
  if (std::find(u.groups.begin(), u.groups.end(), u.gid) == u.groups.end()) {
    u.groups.push_back(u.gid);
  }
  return u;
}

bool set_owner(const std::string& path, std::uint32_t uid, std::uint32_t gid) {
  return ::lchown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)) == 0;
}

std::string user_name(std::uint32_t uid) {
  struct passwd pw;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(static_cast<uid_t>(uid), &pw, buffer.data(), buffer.size(), &found) == 0 &&
      found) {
    return pw.pw_name;
  }
  return std::to_string(uid);
}

int run_tool(const std::string& program, const std::vector<std::string>& args,
             const std::string& dir) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::execvp(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

std::int32_t process_id() { return static_cast<std::int32_t>(::getpid()); }

std::int64_t now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

run_lock::run_lock(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, file_mode);
  if (fd < 0) return;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return;
    }
  }
  fd_ = fd;
}

run_lock::~run_lock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

bool run_command(const std::vector<std::string>& argv, program_result* result,
                 std::string* error_text, std::string* err) {
  if (argv.empty()) {
    if (err) *err = "no program to run";
    return false;
  }
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  int out[2];
  int errs[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    if (err) *err = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (::pipe2(errs, O_CLOEXEC) != 0) {
    if (err) *err = std::string("pipe: ") + std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) {
    if (err) *err = std::string("fork: ") + std::strerror(errno);
    for (int fd : {out[0], out[1], errs[0], errs[1]}) ::close(fd);
    return false;
  }
  if (pid == 0) {
    int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in < 0 || ::dup2(null_in, STDIN_FILENO) < 0 || ::dup2(out[1], STDOUT_FILENO) < 0 ||
        ::dup2(errs[1], STDERR_FILENO) < 0) {
      ::_exit(126);
    }
    ::execvp(argp[0], argp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(errs[1]);
  // The error text is small; reading it after the output cannot block the
  // program for long, but both pipes are read so neither fills up.
  result->out.clear();
  std::string error;
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {errs[0], POLLIN, 0}};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
        continue;
      }
      (i == 0 ? result->out : error).append(buf, static_cast<size_t>(n));
    }
  }
  for (const struct pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  if (error_text) *error_text = error;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      if (err) *err = std::string("waitpid: ") + std::strerror(errno);
      return false;
    }
  }
  result->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (result->status == 126 || result->status == 127) {
    if (err) *err = argv[0] + ": cannot be run (is it installed?)";
    return false;
  }
  return true;
}

std::optional<std::string> local_address_towards(const std::string& host) {
  struct addrinfo hints {};
  hints.ai_socktype = SOCK_DGRAM;
  struct addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), "22", &hints, &found) != 0 || !found) return std::nullopt;
  std::optional<std::string> address;
  for (struct addrinfo* a = found; a && !address; a = a->ai_next) {
    int fd = ::socket(a->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    // Connecting a datagram socket only chooses the route: nothing is sent.
    struct sockaddr_storage local {};
    socklen_t len = sizeof local;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 &&
        ::getsockname(fd, reinterpret_cast<struct sockaddr*>(&local), &len) == 0) {
      char text[INET6_ADDRSTRLEN] = {};
      const void* raw = local.ss_family == AF_INET6
                            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr)
                            : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&local)->sin_addr);
      if (::inet_ntop(local.ss_family, raw, text, sizeof text)) address = text;
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return address;
}

directory_watch::directory_watch() : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {}

directory_watch::~directory_watch() {
  if (fd_ >= 0) ::close(fd_);
}

bool directory_watch::add(const std::string& dir, std::string* err) {
  if (fd_ < 0) {
    if (err) *err = std::string("inotify: ") + std::strerror(errno);
    return false;
  }
  if (::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
    if (err) *err = dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool directory_watch::wait(int timeout_ms) {
  if (fd_ < 0) return false;
  struct pollfd p = {fd_, POLLIN, 0};
  int n = ::poll(&p, 1, timeout_ms);
  if (n <= 0) return false;
  bool any = false;
  alignas(struct inotify_event) char buf[8192];
  for (;;) {
    ssize_t got = ::read(fd_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EAGAIN: the queue is empty
    any = true;
  }
  return any;
}

}  // namespace platform
