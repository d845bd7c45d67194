// Platform: the few operating-system services the programs use.
//
// The system was first written against a command interpreter ("mkdir",
// "copy", "dir/O:D", site scripts). On Linux each of those is done here
// directly, without a shell; the only process this module starts is a site
// script, and no other code of the project starts one. Paths use "/".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Creates the directory `path` (mode 0755). True when it exists afterwards.
bool make_directory(const std::string& path);

/// True when `path` names a directory.
bool is_directory(const std::string& path);

/// True when `path` names an existing file system entry of any kind.
bool exists(const std::string& path);

/// Changes the working directory; false when that is not possible.
bool change_directory(const std::string& path);

/// The same; on failure `*err` holds the path and the system's reason.
bool change_directory(const std::string& path, std::string* err);

/// Copies the regular file `from` to `to`. The copy never replaces anything:
/// when `to` exists already, nothing is written and the result is false.
/// The copy is written aside and renamed into place, so `to` is whole or
/// absent.
bool copy_file(const std::string& from, const std::string& to);

/// The names (not paths) of the regular files in `dir`, oldest modification
/// time first, ties by name. Directories, links and other entries are left
/// out. A missing directory gives an empty list.
std::vector<std::string> list_files_oldest_first(const std::string& dir);

/// The names of the regular files in `dir`, in no particular order (links
/// and other entries left out); empty when it cannot be listed.
std::vector<std::string> list_file_names(const std::string& dir);

/// Makes `path` a second name (a hard link) of the existing file `existing`;
/// an existing `path` is never replaced. 0 on success, else the error number
/// (EEXIST when the name is taken).
int link_file(const std::string& existing, const std::string& path);

/// A text that changes whenever an entry is added to or removed from the
/// directory `dir` after `backdate_modification(dir)`: its device, inode
/// and modification time. None when `dir` cannot be examined.
std::optional<std::string> directory_stamp(const std::string& dir);

/// Sets the modification time of `path` one second into the past, so that
/// any later change gives it a newer time even within one tick of the
/// file system's clock. False when that is not allowed.
bool backdate_modification(const std::string& path);

/// Runs the executable site script `name` of the working directory as
/// "./name" through /bin/sh, with no input, its output sent to standard error
/// (the page is standard output and must stay valid HTML). Returns the
/// script's exit status, or -1 when it could not be run. Callers ignore the
/// result, as the site scripts' failures are not the program's concern.
int run_site_script(const std::string& name);

/// Replaces `path` with `contents`: the text is written to a new file beside
/// it (mode 0644) and renamed over `path`, so a reader or a crash sees either
/// the old file or the new one, never a part. On failure `*err` says why and
/// `path` is unchanged. With `durable` the text is on the disk before the
/// rename; without, a power loss may leave the file empty (for files that
/// are only hints).
bool replace_file(const std::string& path, std::string_view contents, std::string* err,
                  bool durable = true);

/// A text held in pieces, in order.
using text_pieces = std::span<const std::string_view>;

/// Creates `path` with `contents` only if no entry of that name exists (mode
/// 0644). The text is written aside first and linked into place, so the name
/// never shows half a file. False when the name is taken or on failure.
bool create_file_exclusive(const std::string& path, std::string_view contents, std::string* err);

/// A text written to a new file beside the name it is meant for, and not
/// yet put in place. Its writing to the disk is started at once and goes
/// on while the program does other work; `sync` waits for it. A file never
/// put in place is removed when the object goes.
class aside_file {
 public:
  /// Writes `text` to a new file named after `path` (".part.", the process
  /// id and a number). None, with `*err` saying why, on failure.
  static std::optional<aside_file> write(const std::string& path, text_pieces text,
                                         std::string* err);
  aside_file(aside_file&& o) noexcept;
  aside_file& operator=(aside_file&&) = delete;
  aside_file(const aside_file&) = delete;
  ~aside_file();

  /// Waits until the text is on the disk.
  bool sync(std::string* err);
  /// Gives the text the name `path` if no entry has it, in place of its
  /// name beside it: 0, or the error number (EEXIST when the name is taken).
  int link_to(const std::string& path);
  /// Renames the text over `path`.
  bool rename_to(const std::string& path, std::string* err);

 private:
  aside_file(std::string name, std::string meant, int fd)
      : name_(std::move(name)), meant_(std::move(meant)), fd_(fd) {}

  std::string name_;   // the name beside
  std::string meant_;  // the name it was written for
  int fd_ = -1;
  bool renamed_ = false;
};

/// Like `create_file_exclusive`, but the text is written in `aside_dir`
/// (same file system) before it is linked to `path`, so a program that
/// watches the directory of `path` never sees a partial or temporary file.
bool create_file_exclusive_via(const std::string& path, const std::string& aside_dir,
                               std::string_view contents, std::string* err);

/// Appends `contents` to `path` in one write, creating the file (mode 0644)
/// when it is missing. On failure `*err` says why.
bool append_file(const std::string& path, std::string_view contents, std::string* err);

/// The whole content of a file as bytes, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

/// The same, telling a file that does not exist from one that cannot be
/// read: when nothing is returned, `*err` is empty for a missing file and
/// otherwise holds the path and the system's reason ("name_db: Permission
/// denied"). Only a missing file is absent; a directory, a file without
/// read permission or a read error is a failure.
std::optional<std::string> read_file(const std::string& path, std::string* err);

/// True when `path` does not exist or is a file this process can open for
/// reading; otherwise false with `*err` holding the path and the reason.
bool readable_or_absent(const std::string& path, std::string* err);

/// True when this process can create and remove entries of the directory
/// `path`; otherwise false with `*err` holding the path and the reason (a
/// missing directory gives "No such file or directory").
bool writable_directory(const std::string& path, std::string* err);


/// Removes a file; false when it could not be removed.
bool remove_file(const std::string& path);

/// The size and modification time of a file system entry.
struct file_info {
  std::int64_t size = 0;        // bytes
  std::int64_t mtime_sec = 0;   // modification time, seconds since 1970
  long mtime_nsec = 0;          // and nanoseconds within that second
};

/// The size and modification time of `path` (links are not followed), or
/// nothing when it does not exist.
std::optional<file_info> stat_file(const std::string& path);

/// The names of the subdirectories of `dir`, sorted ("." and ".." left out).
std::vector<std::string> list_directories(const std::string& dir);

/// Sets the permission bits of `path` (for example 0755 for a program or a
/// site script). False when that is not possible.
bool set_mode(const std::string& path, unsigned mode);

/// The working directory, or an empty text when it cannot be told.
std::string current_directory();

/// The absolute path of the running program, or an empty text when the
/// system does not tell it.
std::string own_executable();

/// Starts the running program again, once, with the C library asked to
/// back its memory with large pages, where the system gives them only on
/// request: a run that loads a large store then takes a small part of the
/// page faults (and of their time) it would otherwise. Returns without a
/// restart when large pages are given always or never, when the caller
/// already chose (GLIBC_TUNABLES names glibc.malloc.hugetlb; set it to 0 to
/// run as is, for example under a profiler), or when the restart fails.
/// Call it first thing, before the program reads its input.
void restart_with_large_pages(char** argv);

/// What `run_program` saw of the program it ran.
struct program_result {
  int status = -1;  // exit status 0..255, or -1 when it was ended by a signal
  std::string out;  // its standard output
};

/// Runs the program `path` (no arguments) in the directory `dir` with
/// exactly the environment `env` (entries "NAME=value"; nothing is
/// inherited), standard input from /dev/null, standard output captured into
/// `result->out` and standard error passed through. This is how a web
/// server starts a CGI program. False, with `*err`, when it could not be
/// started. With `err_text`, standard error is collected there instead
/// (through an unnamed temporary file, so a chatty program never blocks on
/// a full pipe) for the caller to pass on and read.
bool run_program(const std::string& path, const std::string& dir,
                 const std::vector<std::string>& env, program_result* result, std::string* err,
                 std::string* err_text = nullptr);

/// True when standard error is the systemd journal's stream (the service
/// manager names it in JOURNAL_STREAM as DEVICE:INODE), so lines written
/// there may begin with a priority such as "<3>".
bool stderr_is_journal();

/// The value of the environment variable `name`, or nothing when unset.
std::optional<std::string> environment(const char* name);

/// Removes the files of `dir` left by writes that were killed before their
/// file was renamed or linked into place: names ending in ".part.", a
/// process id and a number, whose process is no longer running. Returns
/// how many were removed.
int remove_leftover_parts(const std::string& dir);

/// Cuts the file `path` back to `size` bytes; false when that fails.
bool truncate_file(const std::string& path, std::int64_t size);

/// A number that tells the file now named `path` from every other file of
/// its file system (device and inode), or nothing when there is none.
/// Replacing `path` by renaming gives it another identity.
std::optional<std::string> file_identity(const std::string& path);

/// Renames `from` to `to` (an existing `to` is replaced). On failure `*err`
/// holds the system's reason and nothing changed.
bool rename_file(const std::string& from, const std::string& to, std::string* err);

/// Moves the file `from` to `to` when `to` does not exist yet; false
/// otherwise (then `from` stays where it is).
bool move_file_exclusive(const std::string& from, const std::string& to);

/// The process id of this run.
std::int32_t process_id();

/// Seconds since 1970-01-01 UTC.
std::int64_t now_seconds();

/// Runs the program `argv[0]` (looked up in PATH when it holds no "/")
/// with the arguments `argv[1..]` and the caller's environment, standard
/// input from /dev/null, standard output captured into `result->out` and
/// standard error captured into `*error_text`. False, with `*err`, when it
/// could not be started.
bool run_command(const std::vector<std::string>& argv, program_result* result,
                 std::string* error_text, std::string* err);

/// The local address this machine uses to reach `host` (a name or an
/// address), as text; nothing when the name does not resolve or no route
/// leads there. Nothing is sent.
std::optional<std::string> local_address_towards(const std::string& host);

/// Tells when files appear in directories: a file created, linked or moved
/// in, or written and closed. No polling: the kernel queues the events
/// while the owner does something else, so nothing that happens between
/// two waits is missed.
class directory_watch {
 public:
  directory_watch();
  ~directory_watch();
  directory_watch(const directory_watch&) = delete;
  directory_watch& operator=(const directory_watch&) = delete;

  /// Starts watching `dir`. False, with `*err`, when it cannot be watched.
  bool add(const std::string& dir, std::string* err);

  /// Waits up to `timeout_ms` milliseconds (-1: without limit) for events
  /// and takes every event queued. True when there was at least one.
  bool wait(int timeout_ms);

 private:
  int fd_ = -1;  // the kernel's event queue, or -1
};

/// Who may do what with a file system entry.
struct entry_access {
  std::uint32_t owner = 0;   // user id
  std::uint32_t group = 0;   // group id
  unsigned mode = 0;         // permission bits (07777)
  bool directory = false;
  bool regular = false;      // a regular file
  bool symlink = false;
  std::uint64_t links = 0;   // hard links
};

/// The owner, group, mode and kind of `path` (links are not followed), or
/// nothing when it does not exist.
std::optional<entry_access> access_of(const std::string& path);

/// A user of the system as the permission checks see it.
struct user_account {
  std::string name;
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;                // primary group
  std::vector<std::uint32_t> groups;    // every group, the primary one too
};

/// The user `name`, or the user with that number when `name` is a number;
/// nothing when there is no such user.
std::optional<user_account> find_user(const std::string& name);

/// Gives `path` (not followed when a link) the owner `uid` and group `gid`;
/// false when that is not possible.
bool set_owner(const std::string& path, std::uint32_t uid, std::uint32_t gid);

/// The name of the user with id `uid`, or the number as text.
std::string user_name(std::uint32_t uid);

/// Runs `program` (looked up in PATH) with `args` in the directory `dir`,
/// with the caller's environment, standard input from /dev/null and both
/// output streams passed through. Its exit status, or -1 when it could not
/// be started or was ended by a signal.
int run_tool(const std::string& program, const std::vector<std::string>& args,
             const std::string& dir);

/// An exclusive lock held for the lifetime of the object: a second process
/// asking for the same lock file waits until the first releases it (by
/// destruction or by exit). The lock file is created (mode 0644) if needed.
class run_lock {
 public:
  explicit run_lock(const std::string& path);
  ~run_lock();
  run_lock(const run_lock&) = delete;
  run_lock& operator=(const run_lock&) = delete;

  /// False when the lock file could not be opened or locked.
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;  // open lock file, or -1
};

}  // namespace platform
