// Watching directories for new files (errors: platform/error.h).
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

/// Tells when files appear in directories: a file created, linked or moved
/// in, or written and closed. No polling: the kernel queues the events
/// while the owner does something else, so nothing that happens between
/// two waits is missed.
///
/// A watch follows a directory, not its path: once a watched directory is
/// removed or moved (a new one made under its name), nothing more is told
/// of that name. So a watch also tells of such changes, of the watched
/// directories themselves and of names watched in a parent (`add_names`),
/// for its owner to watch anew.
class directory_watch {
 public:
  directory_watch();
  directory_watch(const directory_watch&) = delete;
  directory_watch& operator=(const directory_watch&) = delete;

  /// Starts watching `dir` for files that appear in it. False when it
  /// cannot be watched, with `*err` naming it and why; `*err` is empty
  /// when `dir` does not exist (nothing to watch yet).
  bool add(const std::string& dir, std::string* err);

  /// Starts watching the entries `names` of `dir`: one of them created,
  /// removed or moved in or out is a change (see `wait`). Fails as `add`.
  bool add_names(const std::string& dir, const std::set<std::string>& names, std::string* err);

  /// What a wait saw.
  struct events {
    bool arrived = false;  // a file appeared in a directory of `add`
    bool changed = false;  // a watched directory or name was removed, moved or
                           // made, or the kernel dropped events: watch anew
    explicit operator bool() const { return arrived || changed; }
  };

  /// Waits up to `timeout_ms` milliseconds (-1: without limit) for events
  /// and takes every event queued; events of no interest (another file
  /// made beside a watched name) do not end the wait.
  events wait(int timeout_ms);

 private:
  unique_fd fd_;    // the kernel's event queue
  int errno_ = 0;   // why there is none
  // Per watch: the names it is for (`add_names`), or none (`add`).
  std::map<int, std::set<std::string>> watches_;
};

}  // namespace platform
