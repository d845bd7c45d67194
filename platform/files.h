// Files and directories: reading, writing in place without a torn state,
// listing, linking and locking. Paths use "/". Errors: platform/error.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

/// Creates the directory `path` (mode 0755). True when it exists afterwards.
bool make_directory(const std::string& path);

/// True when `path` names a directory.
bool is_directory(const std::string& path);

/// True when `path` names an existing file system entry of any kind.
bool exists(const std::string& path);

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
  aside_file(std::string name, std::string meant, unique_fd fd)
      : name_(std::move(name)), meant_(std::move(meant)), fd_(std::move(fd)) {}

  std::string name_;   // the name beside
  std::string meant_;  // the name it was written for
  unique_fd fd_;
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

/// What kind of entry a name is.
enum class entry_kind { file, directory, link, socket, other };

/// The size and modification time of a file system entry.
struct file_info {
  entry_kind kind = entry_kind::file;
  bool owned = false;           // owned by this process's effective user
  std::int64_t size = 0;        // bytes
  std::int64_t mtime_sec = 0;   // modification time, seconds since 1970
  long mtime_nsec = 0;          // and nanoseconds within that second
  std::int64_t ctime_sec = 0;   // last change of the entry itself (a rename sets it)
};

/// The kind, owner, size and modification time of `path`, or nothing when
/// it does not exist. Links are not followed unless `follow_links` (as the
/// shell's `test` follows them): then a link tells of the entry it names,
/// and one that names nothing does not exist.
std::optional<file_info> stat_file(const std::string& path, bool follow_links = false);

/// True when this process (its effective ids) may read `path` (`test -r`).
bool may_read(const std::string& path);

/// Makes a new directory of mode 0700 named `prefix` followed by six
/// characters that make it unique; its path, or nothing (with `*err`).
std::optional<std::string> make_temp_directory(const std::string& prefix, std::string* err);

/// The names of the subdirectories of `dir`, sorted ("." and ".." left out).
std::vector<std::string> list_directories(const std::string& dir);

/// The names of every entry of `dir` (files, folders, links and the rest,
/// but "." and ".."), sorted; nothing when it cannot be listed.
std::optional<std::vector<std::string>> list_entries(const std::string& dir);

/// Removes `path` and, when it is a folder, everything below it; links are
/// removed, never followed. True when nothing of that name is left.
bool remove_tree(const std::string& path);

/// Sets the permission bits of `path` (for example 0755 for a program or a
/// site script). False when that is not possible.
bool set_mode(const std::string& path, unsigned mode);

/// Removes the files of `dir` left by writes that were killed before their
/// file was renamed or linked into place: names ending in ".part.", a
/// process id and a number, whose process is no longer running. Returns
/// how many were removed. With `any_owner`, such files go whatever their
/// process id says (for files that came from elsewhere, as from an archive,
/// whose numbers name no process of this machine).
int remove_leftover_parts(const std::string& dir, bool any_owner = false);

/// Cuts the file `path` back to `size` bytes; false when that fails.
bool truncate_file(const std::string& path, std::int64_t size);

/// A number that tells the file now named `path` from every other file of
/// its file system (device and inode), or nothing when there is none.
/// Replacing `path` by renaming gives it another identity.
std::optional<std::string> file_identity(const std::string& path);

/// Renames `from` to `to` (an existing `to` is replaced). On failure `*err`
/// holds the system's reason alone (no subject: callers name both paths)
/// and nothing changed.
bool rename_file(const std::string& from, const std::string& to, std::string* err);

/// Moves the file `from` to `to` when `to` does not exist yet; false
/// otherwise (then `from` stays where it is).
bool move_file_exclusive(const std::string& from, const std::string& to);

/// An exclusive lock held for the lifetime of the object: a second process
/// asking for the same lock file waits until the first releases it (by
/// destruction or by exit), or gives up after `wait_seconds` when that is
/// not negative. The lock file is created (mode 0644) if needed.
class run_lock {
 public:
  explicit run_lock(const std::string& path, int wait_seconds = -1);
  run_lock(const run_lock&) = delete;
  run_lock& operator=(const run_lock&) = delete;

  /// False when the lock file could not be opened or locked.
  bool held() const { return static_cast<bool>(fd_); }

 private:
  unique_fd fd_;  // the open lock file; closing it releases the lock
};

}  // namespace platform
