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
/// while holding the site's run lock. An archive with an entry that is not
/// a plain file or a folder inside html is refused before anything is
/// unpacked. The directory html and its lock file stay (requests that wait
/// for the lock hold both), everything else in html is swapped for the
/// archive's (`site::swap_in_restore`: a swap cut short is finished by the
/// next run). The id and name counters go on from the higher of html's and
/// the archive's. Then checks the site as `orvsite check` does and returns
/// its status; 1 when the restore fails (before the swap, the site is as it
/// was).
int restore_command(const std::string& dir, const std::string& file, std::ostream& out,
                    std::ostream& err);

/// Finishes what a restore killed in the site `dir` left (under the run
/// lock, only when something is left), saying so on `err`. 0, or 1 when it
/// cannot be finished.
int finish_cut_restore(const std::string& dir, std::ostream& err);

}  // namespace orvsite
