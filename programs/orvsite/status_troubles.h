// The troubles of a site that its exchange record does not show: what
// peers have staged and had refused, files in inbox that pick-up will not
// take, locks held too long, an exchange that died, the free disk space.
// Read by `orvsite status`; nothing is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvsite {

/// The site's own limits, in html/exchange.conf: lines "NAME TIME" (TIME as
/// `parse_duration` reads it, "10m"; "free-space-below" in bytes with an
/// optional k, M or G). Names: failing-for, waiting-for, retry,
/// lock-held-for, cut-send-for, free-space-below. What is not there keeps its default.
inline constexpr const char* site_settings_file = "html/exchange.conf";

struct site_settings {
  std::int64_t failing_for = 600;     // sends to a peer failing longer need the operator
  std::int64_t waiting_for = 600;     // a file waiting longer in outbox or inbox
  std::int64_t retry = 60;            // `orvsite watch` tries a failed round again after
  std::int64_t lock_held_for = 300;   // a lock held longer needs the operator
  std::int64_t cut_send_for = 60;     // a send cut short, unfinished longer, does too
  std::int64_t free_space_below = 100LL * 1024 * 1024;  // free bytes under this do too
  std::vector<std::string> damaged;   // lines that do not read: "line N: ..."
};

/// The settings of the site `dir` (the defaults when it has no file).
site_settings read_site_settings(const std::string& dir);

/// The file marking a running exchange: "PID STARTED" while it runs,
/// removed when it ends; left behind by one that was killed.
inline constexpr const char* running_file = "html/exchange.running";

/// What one peer has delivered into staging and had refused.
struct staging_use {
  std::string peer;          // the sender's orv id from the transfer id
  int files = 0;             // files staged, not yet linked into inbox
  std::int64_t bytes = 0;    // their size together
  int refused = 0;           // refusals of its deliveries in exchange.log (last day)
};

/// An entry of inbox that pick-up never takes.
struct untakeable_entry {
  std::string name;  // as listed (a line feed shown as \n)
  std::string why;   // "a directory", "a symbolic link", "a hidden name", ...
};

/// A file a put script took out of outbox and has not delivered (a send
/// cut short), in html/.outbox-local.
struct cut_send {
  std::string name;          // as listed
  std::int64_t since = 0;    // when it was moved there (its change time)
};

/// A lock file with a holder.
struct held_lock {
  std::string file;         // below html
  int pid = 0;              // the holder the kernel names
  std::int64_t since = 0;   // when it started holding it, as far as told; 0: unknown
};

struct site_troubles {
  std::vector<staging_use> staging;          // per peer, sorted
  std::vector<untakeable_entry> untakeable;  // in inbox
  std::vector<held_lock> locks;              // held now
  std::vector<cut_send> cut_sends;           // oldest first
  std::int64_t died_started = 0;             // an exchange that died: when it started; 0: none
  int died_pid = 0;                          // and its process id
  std::optional<std::int64_t> free_bytes;    // on the site's file system
  int refusals = 0;                          // refusal lines in exchange.log, last day
  std::string last_refusal;                  // the newest of them
};

/// Gathers the troubles of the site `dir` at `now`, and adds to
/// `attention` why the operator is needed by `settings`.
site_troubles site_troubles_of(const std::string& dir, const site_settings& settings,
                               const std::vector<std::string>& peer_ids, std::int64_t now,
                               std::vector<std::string>* attention);

/// Lines of `orvsite status` for people ("  staging: ..."), JSON members
/// (", \"staging\": ..." to go inside the site's object) and metrics.
std::string troubles_text(const site_troubles& t, std::int64_t now);
std::string troubles_json(const site_troubles& t, std::int64_t now);

}  // namespace orvsite

namespace orvsite {

/// Marks the exchange of the site `dir` as running while it lives: writes
/// running_file when made, removes it when destroyed. `previous` tells of a
/// mark an earlier run left behind (it died): "started TIME by pid N".
class running_mark {
 public:
  explicit running_mark(const std::string& dir);
  ~running_mark();
  running_mark(const running_mark&) = delete;
  running_mark& operator=(const running_mark&) = delete;
  const std::string& previous() const { return previous_; }

 private:
  std::string file_;
  std::string previous_;
};

}  // namespace orvsite
