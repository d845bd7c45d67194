// Watching directories for new files (errors: platform/error.h).
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace platform {

/// Tells when files appear in directories: a file created, linked or moved
/// in, or written and closed. No polling: the kernel queues the events
/// while the owner does something else, so nothing that happens between
/// two waits is missed.
class directory_watch {
 public:
  directory_watch();
  directory_watch(const directory_watch&) = delete;
  directory_watch& operator=(const directory_watch&) = delete;

  /// Starts watching `dir`. False, with `*err`, when it cannot be watched.
  bool add(const std::string& dir, std::string* err);

  /// Waits up to `timeout_ms` milliseconds (-1: without limit) for events
  /// and takes every event queued. True when there was at least one.
  bool wait(int timeout_ms);

 private:
  unique_fd fd_;    // the kernel's event queue
  int errno_ = 0;   // why there is none
};

}  // namespace platform
