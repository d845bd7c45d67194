// The swap of a restore: a site's `html` takes the entries of a copy
// unpacked beside it, so that a restore killed at any moment leaves the old
// site or the new one and nothing else. Shared by `orvsite restore`, which
// swaps, and by every run that takes a site's run lock (`orv`, `orvsite`),
// which finishes a swap that was cut short.
#pragma once

#include <optional>
#include <string>

namespace site {

/// The folder beside `html` (in the site directory) where a restore of the
/// process `pid` unpacks its copy: ".restore.PID". Below it, `html` is the
/// new copy and `old` receives html's old entries.
std::string restore_aside_name(int pid);

/// Swaps the entries of `html` (but the run lock) for those of
/// `ASIDE/html`, where `aside` is a folder made by the caller in the site
/// directory `site_dir` under `restore_aside_name`, holding the unpacked,
/// checked copy; then `html` takes the mode and owner of `ASIDE/html` and
/// the folder `aside` is removed. The caller holds the site's run lock.
/// Each move is noted in `aside` first, so that `finish_restore` can carry
/// a killed swap through. False with `*err` when a move fails; the swap is
/// then finished by the next `finish_restore`. (A folder `aside` that
/// cannot be removed at the end is left for `finish_restore`.)
bool swap_in_restore(const std::string& site_dir, const std::string& aside, std::string* err);

/// What a killed restore left in `site_dir`: a swap that began is carried
/// through (the site becomes wholly the restored one), and the folders of
/// restores that were killed before their swap are removed (the site stays
/// the old one). The caller holds the site's run lock, so no restore runs
/// meanwhile. Nothing, when there was nothing to do; otherwise a line that
/// says what was done (and which folder could not be removed: the site is
/// whole without it). `*err` is set when a swap cannot be carried through.
std::optional<std::string> finish_restore(const std::string& site_dir, std::string* err);

/// True when `site_dir` holds something of a killed restore, checked
/// without the run lock (a running restore's folder counts too): callers
/// take the lock and call `finish_restore` only then.
bool restore_left_over(const std::string& site_dir);

/// For tests of killed restores only: when the environment variable
/// ORV_TEST_RESTORE_STOP holds a number N, the process kills itself at the
/// Nth call (1 is the first) of this function in this process; the
/// restore calls it between its steps.
void restore_stop_point();

}  // namespace site
