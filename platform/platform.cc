// Platform services on Linux (POSIX calls only).
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
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

// A name beside `path` for a file that is written before it is renamed.
std::string aside_name(const std::string& path) {
  static unsigned counter = 0;  // distinguishes several files of one run
  return path + ".part." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

// Writes `contents` into a fresh file named `aside`. On failure the partial
// file is removed.
bool write_aside(const std::string& aside, std::string_view contents, std::string* err,
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
bool link_into_place(const std::string& aside, const std::string& path, std::string_view contents,
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
  if (!write_aside(aside, contents, err, durable)) return false;
  if (::rename(aside.c_str(), path.c_str()) != 0) {
    if (err) *err = path + ": " + std::strerror(errno);
    ::unlink(aside.c_str());
    return false;
  }
  return true;
}

bool create_file_exclusive(const std::string& path, std::string_view contents, std::string* err) {
  return link_into_place(aside_name(path), path, contents, err);
}

int create_file_exclusive_errno(const std::string& path, std::string_view contents,
                                bool durable) {
  std::string aside = aside_name(path);
  std::string err;
  if (!write_aside(aside, contents, &err, durable)) return errno != 0 ? errno : EIO;
  int result = ::link(aside.c_str(), path.c_str()) == 0 ? 0 : errno;
  ::unlink(aside.c_str());
  return result;
}

bool create_file_exclusive_via(const std::string& path, const std::string& aside_dir,
                               std::string_view contents, std::string* err) {
  std::string::size_type slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return link_into_place(aside_name(aside_dir + "/" + base), path, contents, err);
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
                 const std::vector<std::string>& env, program_result* result, std::string* err) {
  std::vector<std::string> env_copy = env;
  std::vector<char*> envp;
  for (std::string& e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = path;
  char* argv[] = {program.data(), nullptr};

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    if (err) *err = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  std::fflush(nullptr);  // nothing buffered may be written twice
  pid_t pid = ::fork();
  if (pid < 0) {
    if (err) *err = std::string("fork: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (pid == 0) {
    int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in < 0 || ::dup2(null_in, STDIN_FILENO) < 0 ||
        ::dup2(fds[1], STDOUT_FILENO) < 0 || ::chdir(dir.c_str()) != 0) {
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
      return false;
    }
  }
  result->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (result->status == 126 || result->status == 127) {
    // The shell's convention: the program could not be started at all.
    if (err) *err = path + ": cannot be run in " + dir;
    return false;
  }
  return true;
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

}  // namespace platform
