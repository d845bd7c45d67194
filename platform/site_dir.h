// A site's directory, through which a run reaches the files of the site.
//
// A run names the files of its site relative to the site ("file.ic",
// "inbox/east17"), as its page and trace tell them; only the calls that
// touch the file system see the directory in front. So one process can
// work on several sites without changing its working directory.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class site_dir {
 public:
  /// The working directory: names are used as they are.
  site_dir() = default;
  /// The directory `path` (relative to the working directory or absolute).
  explicit site_dir(std::string path);

  /// The path of the site's file `name` for the file system.
  std::string at(std::string_view name) const;

  /// Takes the directory off the front of the subject of `*err` ("SUBJECT:
  /// REASON", platform/error.h), so that the error names the file as the
  /// site does. Nothing happens without `err`.
  void as_inside(std::string* err) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;  // empty: the working directory
};

}  // namespace platform
