// Processes: starting programs, this process's own state, the machine.
//
// The system was first written against a command interpreter ("mkdir",
// "copy", "dir/O:D", site scripts). On Linux each of those is done
// directly, without a shell; the only process started through /bin/sh is a
// site script (`run_site_script`), and every program the project starts is
// started by `spawn` here. Errors follow platform/error.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

/// Where a child's standard input comes from.
enum class input_mode {
  null,     // /dev/null
  inherit,  // the caller's standard input
  file,     // the file `in_file` (read from its start)
  pipe,     // a pipe the caller writes (`start` only)
};

/// Where one of a child's output streams goes.
enum class output_mode {
  inherit,    // the caller's stream of the same number
  capture,    // collected into the result (both streams are read as they
              // come, so a chatty program never blocks on a full pipe)
  to_stderr,  // the caller's standard error (keeps a page on standard
              // output clean)
  null,       // /dev/null
  file,       // the file `out_file` or `err_file`, made or emptied first
};

/// What to start and how.
struct spawn_options {
  /// The program and its arguments. argv[0] is looked up in PATH when it
  /// holds no "/" (unless `search_path` is false) and run as given otherwise.
  std::vector<std::string> argv;
  bool search_path = true;
  /// The directory it starts in; empty: the caller's working directory.
  std::string dir;
  /// Its environment, entries "NAME=value", exactly (nothing inherited);
  /// none: the caller's environment.
  std::optional<std::vector<std::string>> env;
  input_mode in = input_mode::null;
  output_mode out = output_mode::inherit;
  output_mode err = output_mode::inherit;
  /// The files of `input_mode::file` and `output_mode::file`.
  std::string in_file, out_file, err_file;
};

/// What a finished child left.
struct spawn_result {
  int status = -1;   // exit status 0..255, or -1 when ended by a signal
  std::string out;   // standard output, when captured
  std::string err;   // standard error, when captured
};

/// Starts a program, waits for it and returns what it left. Nothing, with
/// `*err` ("PROGRAM: cannot be run: REASON"), when it could not be started:
/// the directory cannot be entered or the program cannot be executed. (The
/// child tells the exact reason through a pipe closed by a successful exec,
/// so a program's own exit status of 126 or 127 is not mistaken for it.)
/// A file of the options that cannot be opened gives "FILE: REASON". The
/// child starts with no signal blocked, whatever the calling thread blocks.
/// Threads may call it at once: the child makes only async-signal-safe calls
/// between the fork and the exec, and every descriptor made here is closed
/// on exec, so no child keeps another's pipe open.
std::optional<spawn_result> spawn(const spawn_options& options, std::string* err);

/// A program started by `start` that runs beside its caller, which holds
/// the other ends of its pipes. Going out of scope ends it (SIGTERM) and
/// waits for it.
class running_child {
 public:
  running_child() = default;
  running_child(running_child&& o) noexcept;
  running_child& operator=(running_child&& o) noexcept;
  running_child(const running_child&) = delete;
  running_child& operator=(const running_child&) = delete;
  ~running_child();

  /// Where its standard input comes from (`input_mode::pipe`), and where
  /// its standard output can be read (`output_mode::capture`); -1 else.
  int input() const { return in_.get(); }
  int output() const { return out_.get(); }
  /// True while it has not ended.
  bool running() const;
  /// Closes both pipes and waits for it: its exit status, or -1 when a
  /// signal ended it or there is none.
  int finish();
  /// Ends it (SIGTERM) and waits for it.
  void end();

 private:
  friend std::optional<running_child> start(const spawn_options& options, std::string* err);
  int pid_ = -1;
  int slot_ = -1;
  unique_fd in_, out_;
};

/// Starts a program as `spawn` does (the same checks, the same reasons
/// when it cannot be started) and returns while it runs. Its standard
/// error may not be captured; a captured standard output is a pipe for the
/// caller to read. A stop signal (`catch_stop_signals`) ends it too.
std::optional<running_child> start(const spawn_options& options, std::string* err);

/// From now on the hang-up, interrupt and termination signals do not end
/// this process at once: each is noted for `stop_requested` and ends (with
/// SIGTERM) the children `spawn` is waiting for, so that the caller can
/// tidy up and end. `spawn` starts nothing once a stop is requested.
void catch_stop_signals();

/// True once one of the signals of `catch_stop_signals` came.
bool stop_requested();

/// True when a process `pid` runs that this process may signal, as the
/// shell's `kill -0` tells (another user's process counts as none: a
/// process id of this user's that is now another's names a process gone).
bool process_exists(std::int64_t pid);

/// Sets the environment variable `name` for this process and the programs
/// it starts from now on. Call it before any thread starts.
bool set_environment(const char* name, const std::string& value);

/// Runs the executable site script `name` of the working directory as
/// "./name" through /bin/sh, with no input, its output sent to standard error
/// (the page is standard output and must stay valid HTML). Returns the
/// script's exit status, or -1 when it could not be run. Callers ignore the
/// result, as the site scripts' failures are not the program's concern.
int run_site_script(const std::string& name);

/// Where a site script runs and where what it says goes.
struct script_place {
  std::string dir;              // the site's directory; empty: the working directory
  std::string* said = nullptr;  // its output and errors, in the order written;
                                // none: standard error
};

/// `run_site_script` in `where.dir`, its output kept in `*where.said` when
/// that is given.
int run_site_script(const std::string& name, const script_place& where);

/// What `run_program` and `run_command` saw of the program they ran.
struct program_result {
  int status = -1;  // exit status 0..255, or -1 when it was ended by a signal
  std::string out;  // its standard output
};

/// Runs the program `path` (no arguments) in the directory `dir` with
/// exactly the environment `env` (entries "NAME=value"; nothing is
/// inherited), standard input from /dev/null, standard output captured into
/// `result->out` and standard error passed through. This is how a web
/// server starts a CGI program. False, with `*err`, when it could not be
/// started. With `err_text`, standard error is collected there instead for
/// the caller to pass on and read.
bool run_program(const std::string& path, const std::string& dir,
                 const std::vector<std::string>& env, program_result* result, std::string* err,
                 std::string* err_text = nullptr);

/// Runs the program `argv[0]` (looked up in PATH when it holds no "/")
/// with the arguments `argv[1..]` and the caller's environment, standard
/// input from /dev/null, standard output captured into `result->out` and
/// standard error captured into `*error_text`. False, with `*err`, when it
/// could not be started.
bool run_command(const std::vector<std::string>& argv, program_result* result,
                 std::string* error_text, std::string* err);

/// Runs `program` (looked up in PATH) with `args` in the directory `dir`,
/// with the caller's environment, standard input from /dev/null and both
/// output streams passed through. Its exit status; 127, as a shell says it,
/// when it could not be started; -1 when it was ended by a signal or no
/// process could be made.
int run_tool(const std::string& program, const std::vector<std::string>& args,
             const std::string& dir);

/// Changes the working directory; false when that is not possible.
bool change_directory(const std::string& path);

/// The same; on failure `*err` holds the path and the system's reason.
bool change_directory(const std::string& path, std::string* err);

/// True when `dir` is a directory that could be entered (searched); false,
/// with "DIR: REASON" in `*err`, when changing into it would fail.
bool can_enter(const std::string& dir, std::string* err);

/// The working directory, or an empty text when it cannot be told.
std::string current_directory();

/// The absolute path of the running program, or an empty text when the
/// system does not tell it.
std::string own_executable();

/// The size of the input from which a run backs its memory with large
/// pages. Below it the restart costs more than the page faults it saves
/// (measured on an idle machine: a request to an empty site 9.5 ms of
/// processor time with it, 7.1 without; at 1,000 vantles, a store of 0.5
/// MB, 19 ms either way; at 10,000 vantles, 4.8 MB, 40 with, 60 without).
inline constexpr std::int64_t large_pages_from = 1 << 20;

/// Starts the running program again, once, with the C library asked to
/// back its memory with large pages, where the system gives them only on
/// request: a run that loads a large store then takes a small part of the
/// page faults (and of their time) it would otherwise. Returns without a
/// restart when the file `input` (the store the run will load) is smaller
/// than `large_pages_from` or missing, when large pages are given always
/// or never, when the caller already chose (GLIBC_TUNABLES names
/// glibc.malloc.hugetlb; set it to 0 to run as is, for example under a
/// profiler), or when the restart fails. Call it first thing, before the
/// program reads its input.
void restart_with_large_pages(char** argv, const std::string& input);

/// True when standard error is the systemd journal's stream (the service
/// manager names it in JOURNAL_STREAM as DEVICE:INODE), so lines written
/// there may begin with a priority such as "<3>".
bool stderr_is_journal();

/// The value of the environment variable `name`, or nothing when unset.
std::optional<std::string> environment(const char* name);

/// The process id of this run.
std::int32_t process_id();

/// Seconds since 1970-01-01 UTC.
std::int64_t now_seconds();

/// The local address this machine uses to reach `host` (a name or an
/// address), as text; nothing when the name does not resolve or no route
/// leads there. Nothing is sent.
std::optional<std::string> local_address_towards(const std::string& host);

}  // namespace platform
