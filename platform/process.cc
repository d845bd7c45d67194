// Processes on Linux (POSIX calls only).
#include "platform/process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

// A pipe whose both ends are closed on exec; false with `*err` on failure.
bool make_pipe(unique_fd* read_end, unique_fd* write_end, std::string* err) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return fail(err, "pipe", errno);
  read_end->reset(fds[0]);
  write_end->reset(fds[1]);
  return true;
}

// Reads the captured streams until both are closed, as they come.
void collect(unique_fd* out, std::string* out_text, unique_fd* err, std::string* err_text) {
  struct pollfd fds[2] = {{out->get(), POLLIN, 0}, {err->get(), POLLIN, 0}};
  std::string* texts[2] = {out_text, err_text};
  int open_fds = (fds[0].fd >= 0) + (fds[1].fd >= 0);
  char buf[65536];
  while (open_fds > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        fds[i].fd = -1;  // poll skips negative descriptors
        --open_fds;
        continue;
      }
      texts[i]->append(buf, static_cast<size_t>(n));
    }
  }
  out->reset();
  err->reset();
}

// The children `spawn` waits for, for the stop signals to end: a slot holds
// a process id, 0 when free. Lock-free atomics, so the handler may read
// them. More children than slots at once run on unregistered (a stop then
// waits for them to end by themselves).
constexpr int child_slots = 256;
std::atomic<pid_t> children[child_slots];
std::atomic<bool> stop_signal{false};
std::atomic<bool> catching{false};

void on_stop_signal(int) {
  stop_signal.store(true);
  for (std::atomic<pid_t>& c : children) {
    pid_t pid = c.load();
    if (pid > 0) ::kill(pid, SIGTERM);
  }
}

// The slot `pid` was put in, or -1.
int register_child(pid_t pid) {
  if (!catching.load()) return -1;
  for (int i = 0; i < child_slots; ++i) {
    pid_t free = 0;
    if (children[i].compare_exchange_strong(free, pid)) return i;
  }
  return -1;
}

// Waits for the child `pid`; its exit status, or -1 when a signal ended it
// or it cannot be waited for. Its slot is freed once it has ended but before
// it is reaped, while its process id cannot name another process yet.
int wait_for(pid_t pid, int slot) {
  if (slot >= 0) {
    siginfo_t info;
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0) {
      if (errno != EINTR) break;
    }
    children[slot].store(0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Opens the file of an input or output mode `file`; false with `*err`.
bool open_for(const std::string& path, bool write, unique_fd* fd, std::string* err) {
  int flags = write ? O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC : O_RDONLY | O_CLOEXEC;
  fd->reset(::open(path.c_str(), flags, 0666));
  return *fd ? true : fail(err, path, errno);
}

}  // namespace

namespace {

// A child started by `launch`: its process id, its slot among the children
// the stop signals end, and the caller's ends of its pipes.
struct launched {
  pid_t pid = -1;
  int slot = -1;
  unique_fd in, out, err;  // its standard input (pipe), output and error (capture)
};

// Starts the child of `o` (the one fork and exec of this module) and
// returns once it runs its program; nothing, with `*err`, when it could not
// be started (a child that failed before its exec is reaped here).
std::optional<launched> launch(const spawn_options& o, std::string* err) {
  if (o.argv.empty()) {
    if (err) *err = "no program to run";
    return std::nullopt;
  }
  // Everything the child needs is made before the fork: between fork and
  // exec only async-signal-safe calls are made.
  std::vector<std::string> args = o.argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<std::string> env_copy = o.env.value_or(std::vector<std::string>{});
  std::vector<char*> envp;
  for (std::string& e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);
  const bool search = o.search_path && o.argv[0].find('/') == std::string::npos;

  if (stop_requested()) {
    if (err) *err = o.argv[0] + ": not started: this program is stopping";
    return std::nullopt;
  }
  unique_fd null_fd;
  if (o.in == input_mode::null || o.out == output_mode::null || o.err == output_mode::null) {
    null_fd.reset(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null_fd) return fail(err, "/dev/null", errno), std::nullopt;
  }
  unique_fd in_fd, out_fd, err_fd;
  if (o.in == input_mode::file && !open_for(o.in_file, false, &in_fd, err)) return std::nullopt;
  if (o.out == output_mode::file && !open_for(o.out_file, true, &out_fd, err)) return std::nullopt;
  if (o.err == output_mode::file && !open_for(o.err_file, true, &err_fd, err)) return std::nullopt;
  launched child;
  unique_fd in_r, out_w, err_w, exec_r, exec_w;
  if (o.in == input_mode::pipe && !make_pipe(&in_r, &child.in, err)) return std::nullopt;
  if (o.out == output_mode::capture && !make_pipe(&child.out, &out_w, err)) return std::nullopt;
  if (o.err == output_mode::capture && !make_pipe(&child.err, &err_w, err)) return std::nullopt;
  // Closed by a successful exec; otherwise the child writes its errno here.
  if (!make_pipe(&exec_r, &exec_w, err)) return std::nullopt;

  std::fflush(nullptr);  // nothing buffered may be written twice or late
  pid_t pid = ::fork();
  if (pid < 0) return fail(err, "fork", errno), std::nullopt;
  if (pid == 0) {
    auto give_up = [&](int e) {
      ssize_t ignored = ::write(exec_w.get(), &e, sizeof e);
      (void)ignored;
      ::_exit(127);
    };
    sigset_t none;
    ::sigemptyset(&none);
    if (::sigprocmask(SIG_SETMASK, &none, nullptr) != 0) give_up(errno);
    // A caller that ignores the pipe signal (to see EPIPE on a pipe to a
    // child) must not pass that on: a program ends at a closed pipe.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    if (::sigaction(SIGPIPE, &dfl, nullptr) != 0) give_up(errno);
    if (!o.dir.empty() && ::chdir(o.dir.c_str()) != 0) give_up(errno);
    int in_from = o.in == input_mode::null   ? null_fd.get()
                  : o.in == input_mode::file ? in_fd.get()
                  : o.in == input_mode::pipe ? in_r.get()
                                             : -1;
    if (in_from >= 0 && ::dup2(in_from, STDIN_FILENO) < 0) give_up(errno);
    // Standard output first, so that `to_stderr` means where the child's
    // standard error goes: the caller's stream, or the same capture.
    int to_err = o.err == output_mode::capture ? err_w.get()
                 : o.err == output_mode::file  ? err_fd.get()
                                               : STDERR_FILENO;
    int out_to = o.out == output_mode::capture     ? out_w.get()
                 : o.out == output_mode::to_stderr ? to_err
                 : o.out == output_mode::null      ? null_fd.get()
                 : o.out == output_mode::file      ? out_fd.get()
                                                   : -1;
    if (out_to >= 0 && ::dup2(out_to, STDOUT_FILENO) < 0) give_up(errno);
    int err_to = o.err == output_mode::capture ? err_w.get()
                 : o.err == output_mode::null  ? null_fd.get()
                 : o.err == output_mode::file  ? err_fd.get()
                                               : -1;
    if (err_to >= 0 && ::dup2(err_to, STDERR_FILENO) < 0) give_up(errno);
    if (o.env) {
      if (search) {
        ::execvpe(argp[0], argp.data(), envp.data());
      } else {
        ::execve(argp[0], argp.data(), envp.data());
      }
    } else if (search) {
      ::execvp(argp[0], argp.data());
    } else {
      ::execv(argp[0], argp.data());
    }
    give_up(errno);
  }
  child.pid = pid;
  child.slot = register_child(pid);
  in_r.reset();
  out_w.reset();
  err_w.reset();
  exec_w.reset();
  in_fd.reset();
  out_fd.reset();
  err_fd.reset();

  // The exec's outcome comes first: the child writes nothing before it.
  int exec_errno = 0;
  ssize_t told;
  do {
    told = ::read(exec_r.get(), &exec_errno, sizeof exec_errno);
  } while (told < 0 && errno == EINTR);
  if (told == static_cast<ssize_t>(sizeof exec_errno)) {
    wait_for(pid, child.slot);
    if (err) {
      *err = o.argv[0] + ": cannot be run" + (o.dir.empty() ? "" : " in " + o.dir) + ": " +
             std::strerror(exec_errno);
    }
    return std::nullopt;
  }
  return child;
}

}  // namespace

std::optional<spawn_result> spawn(const spawn_options& o, std::string* err) {
  if (o.in == input_mode::pipe) {
    if (err) *err = o.argv.empty() ? "no program to run" : o.argv[0] + ": no input to give it";
    return std::nullopt;
  }
  std::optional<launched> child = launch(o, err);
  if (!child) return std::nullopt;
  spawn_result result;
  collect(&child->out, &result.out, &child->err, &result.err);
  result.status = wait_for(child->pid, child->slot);
  return result;
}

running_child::running_child(running_child&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)),
      slot_(std::exchange(o.slot_, -1)),
      in_(std::move(o.in_)),
      out_(std::move(o.out_)) {}

running_child& running_child::operator=(running_child&& o) noexcept {
  if (this != &o) {
    end();
    pid_ = std::exchange(o.pid_, -1);
    slot_ = std::exchange(o.slot_, -1);
    in_ = std::move(o.in_);
    out_ = std::move(o.out_);
  }
  return *this;
}

running_child::~running_child() { end(); }

bool running_child::running() const {
  if (pid_ < 0) return false;
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) < 0) return false;
  return info.si_pid == 0;
}

int running_child::finish() {
  in_.reset();
  out_.reset();
  if (pid_ < 0) return -1;
  int status = wait_for(pid_, slot_);
  pid_ = -1;
  slot_ = -1;
  return status;
}

void running_child::end() {
  if (pid_ >= 0) ::kill(pid_, SIGTERM);
  finish();
}

std::optional<running_child> start(const spawn_options& o, std::string* err) {
  if (o.err == output_mode::capture) {
    if (err) *err = o.argv.empty() ? "no program to run" : o.argv[0] + ": its errors must go somewhere";
    return std::nullopt;
  }
  std::optional<launched> child = launch(o, err);
  if (!child) return std::nullopt;
  running_child r;
  r.pid_ = child->pid;
  r.slot_ = child->slot;
  r.in_ = std::move(child->in);
  r.out_ = std::move(child->out);
  return r;
}

int run_site_script(const std::string& name) { return run_site_script(name, script_place{}); }

int run_site_script(const std::string& name, const script_place& where) {
  spawn_options o;
  o.argv = {"/bin/sh", "-c", "./" + name};
  o.dir = where.dir;
  o.out = output_mode::to_stderr;
  if (where.said) o.err = output_mode::capture;
  std::optional<spawn_result> r = spawn(o, nullptr);
  if (where.said && r) *where.said += r->err;
  return r ? r->status : -1;
}

bool run_program(const std::string& path, const std::string& dir,
                 const std::vector<std::string>& env, program_result* result, std::string* err,
                 std::string* err_text) {
  spawn_options o;
  o.argv = {path};
  o.search_path = false;
  o.dir = dir;
  o.env = env;
  o.out = output_mode::capture;
  o.err = err_text ? output_mode::capture : output_mode::inherit;
  if (err_text) err_text->clear();
  std::optional<spawn_result> r = spawn(o, err);
  if (!r) return false;
  result->status = r->status;
  result->out = std::move(r->out);
  if (err_text) *err_text = std::move(r->err);
  return true;
}

bool run_command(const std::vector<std::string>& argv, program_result* result,
                 std::string* error_text, std::string* err) {
  spawn_options o;
  o.argv = argv;
  o.out = output_mode::capture;
  o.err = output_mode::capture;
  std::optional<spawn_result> r = spawn(o, err);
  if (!r) return false;
  result->status = r->status;
  result->out = std::move(r->out);
  if (error_text) *error_text = std::move(r->err);
  return true;
}

int run_tool(const std::string& program, const std::vector<std::string>& args,
             const std::string& dir) {
  spawn_options o;
  o.argv.push_back(program);
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  o.dir = dir;
  std::string why;
  std::optional<spawn_result> r = spawn(o, &why);
  if (r) return r->status;
  return why.find(": cannot be run") != std::string::npos ? 127 : -1;
}

bool change_directory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

bool change_directory(const std::string& path, std::string* err) {
  if (::chdir(path.c_str()) == 0) return true;
  return fail(err, path, errno);
}

bool can_enter(const std::string& dir, std::string* err) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return fail(err, dir, errno);
  if (!S_ISDIR(st.st_mode)) return fail(err, dir, ENOTDIR);
  if (::faccessat(AT_FDCWD, dir.c_str(), X_OK, AT_EACCESS) != 0) return fail(err, dir, errno);
  return true;
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

void restart_with_large_pages(char** argv, const std::string& input) {
  struct stat st;
  if (::stat(input.c_str(), &st) != 0 || st.st_size < large_pages_from) return;
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

void catch_stop_signals() {
  catching.store(true);
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  ::sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGHUP, SIGINT, SIGTERM}) ::sigaction(sig, &sa, nullptr);
}

bool stop_requested() { return stop_signal.load(); }

bool process_exists(std::int64_t pid) {
  if (pid <= 0 || pid != static_cast<pid_t>(pid)) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

bool set_environment(const char* name, const std::string& value) {
  return ::setenv(name, value.c_str(), 1) == 0;
}

std::optional<std::string> environment(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

std::int32_t process_id() { return static_cast<std::int32_t>(::getpid()); }

std::int64_t now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::optional<std::string> local_address_towards(const std::string& host) {
  struct addrinfo hints {};
  hints.ai_socktype = SOCK_DGRAM;
  struct addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), "22", &hints, &found) != 0 || !found) return std::nullopt;
  std::optional<std::string> address;
  for (struct addrinfo* a = found; a && !address; a = a->ai_next) {
    unique_fd fd(::socket(a->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) continue;
    // Connecting a datagram socket only chooses the route: nothing is sent.
    struct sockaddr_storage local {};
    socklen_t len = sizeof local;
    if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0 &&
        ::getsockname(fd.get(), reinterpret_cast<struct sockaddr*>(&local), &len) == 0) {
      char text[INET6_ADDRSTRLEN] = {};
      const void* raw = local.ss_family == AF_INET6
                            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr)
                            : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&local)->sin_addr);
      if (::inet_ntop(local.ss_family, raw, text, sizeof text)) address = text;
    }
  }
  ::freeaddrinfo(found);
  return address;
}

}  // namespace platform
