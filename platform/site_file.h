// Reading a data file that must be the site's own: a plain file, reached
// without following a symbolic link at its last step, of bounded size.
#ifndef PLATFORM_SITE_FILE_H
#define PLATFORM_SITE_FILE_H

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

/// The most a data file of a site is read up to, unless a reader says less.
inline constexpr std::size_t site_file_limit = std::size_t{256} << 20;

/// The whole content of `path`, which must be a regular file (a symbolic
/// link as its last component, a FIFO, a device or a directory is refused
/// without reading from it) of at most `max_bytes` bytes. When nothing is
/// returned, `*err` is empty for a missing file and otherwise names the
/// file and why it is refused ("config.txt: not a plain file (a FIFO)").
std::optional<std::string> read_site_file(const std::string& path, std::string* err,
                                          std::size_t max_bytes = site_file_limit);

/// The last `max_bytes` bytes of `path` (checked as `read_site_file`
/// does, of any size), from the first whole line among them: for logs,
/// whose recent end is what a reader wants.
std::optional<std::string> read_site_file_tail(const std::string& path, std::string* err,
                                               std::size_t max_bytes);

/// True when `path` does not exist or is a plain file of the site that
/// this process can read (checked as `read_site_file` does, without
/// reading it); otherwise false with `*err` naming it and the reason.
bool plain_site_file_or_absent(const std::string& path, std::string* err);

/// True when `path` does not exist or is a directory of the site itself,
/// not a symbolic link to one (whose files are elsewhere); otherwise false
/// with `*err` naming it and what it is ("inbox.taken: not a folder of the
/// site (a symbolic link)").
bool site_directory_or_absent(const std::string& path, std::string* err);

}  // namespace platform

#endif
