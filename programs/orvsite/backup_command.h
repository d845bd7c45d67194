// `orvsite backup` and `orvsite restore`: the whole html directory of a
// site as one archive, taken and put back under the site's run lock.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace orvsite {

/// Writes the html directory of the site `dir` into the compressed archive
/// `file` (by default SITE-YYYYMMDD-HHMMSS.tar.gz in the working
/// directory, SITE being the site directory's name), with mode 600, while
/// holding the site's run lock, so no request changes the site meanwhile.
/// Returns 0, or 1 with the reason on `err`.
int backup_command(const std::string& dir, const std::optional<std::string>& file,
                   std::ostream& out, std::ostream& err);

/// Puts the html directory in the archive `file` (written by
/// `backup_command`) back into the site `dir`, keeping owners and modes,
/// while holding the site's run lock. The directory html and its lock file
/// stay (requests that wait for the lock hold both), everything else in
/// html is replaced. Then checks the site as `orvsite check` does and
/// returns its status; 1 when the restore fails (before anything in html
/// was removed, the site is as it was).
int restore_command(const std::string& dir, const std::string& file, std::ostream& out,
                    std::ostream& err);

}  // namespace orvsite
