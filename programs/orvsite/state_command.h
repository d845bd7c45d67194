// `orvsite state` and `orvsite prune`: what a site holds, and pruning its
// backup copies.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvsite {

/// A few lines about the site `dir`: its ids, its cells by IC type, its
/// named vantles, the files waiting in inbox and outbox, its backup
/// copies, and the time of the last request (`dump_file`'s modification
/// time). Reads the files with the programs' readers; writes nothing.
/// Returns 0, or 1 when `dir` is not a site.
int state_command(const std::string& dir, std::ostream& out, std::ostream& err);

/// The backup copies of the store in `backup_dir` ("file.ic.b" and a
/// number), oldest modification time first.
std::vector<std::string> backup_copies(const std::string& backup_dir);

/// Removes all but the newest `keep` (at least 1) backup copies of the site
/// `dir`, by modification time, while holding the site's run lock, so no
/// request saves meanwhile and the copy a request has just written is
/// always kept. The copies kept keep their numbers. Returns 0, or 1 (with
/// the reason on `err`).
int prune_command(const std::string& dir, int keep, std::ostream& out, std::ostream& err);

}  // namespace orvsite
