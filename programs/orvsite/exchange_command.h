// `orvsite exchange`: one round of message exchange of a site, as a
// scheduler runs it: send what waits in `outbox`, then pick up.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orvsite {

/// The file in `html` that notes which warnings about the stored cells an
/// exchange reported today (each is reported once a day).
inline constexpr const char* reported_file = "exchange.reported";

/// The query strings of the two requests.
inline constexpr const char* send_query = "message_type=SYS_SEND_MSG&flag=orv";
inline constexpr const char* pick_up_query = "message_type=SYS_PICK_UP_MSG&flag=orv";

/// The line a get script holds when it fetches nothing: then a pick-up is
/// needed only when inbox holds a file for the site.
inline constexpr const char* fetches_nothing_mark = "orvsite: fetches nothing";

/// The most rounds one exchange runs while files keep arriving.
inline constexpr int max_rounds = 20;

/// The orv id of the site `dir`, read from its config.txt; nothing when
/// that does not read.
std::optional<std::string> configured_orv_id(const std::string& dir);

/// True when the get script of the site `dir` may fetch files from
/// elsewhere: it does not hold `fetches_nothing_mark` (or is missing).
bool get_script_fetches(const std::string& dir);

/// The files of the inbox of the site `dir` that a pick-up takes: those
/// whose names begin with the site's orv id, without regard to case, and
/// those a killed pick-up held back (named "inbox.taken/NAME").
std::set<std::string> waiting_for_pick_up(const std::string& dir, const std::string& orv_id);

/// Rewrites a piece of the page a request writes. Only tests reword the
/// page: what an exchange tells must not depend on the page's words.
using page_wording = std::function<std::string(std::string_view)>;

/// Where an exchange writes besides its output.
struct exchange_extras {
  std::optional<std::string> log_file;         // the log, instead of the journal or html/log
  std::optional<std::string> prometheus_file;  // the site's metrics, written after the run
  page_wording reword_page;                    // for tests: the page of each request reworded
};

/// Carries out SYS_SEND_MSG on the site `dir` (only when `outbox` holds a
/// file) and then SYS_PICK_UP_MSG, each as one request of the site manager
/// run in this process (`site::run_request`), and reads what they did from
/// their answers in values. Each request takes the site's run lock. Writes
/// nothing when nothing was sent or picked up, otherwise a short summary to
/// `out`; on `err` the problems of this round (messages left in outbox,
/// errors about the messages taken) and, once a day per text, the errors
/// the manager reports before it takes a message (about the stored cells). Returns 0, or 1 (with the reason on `err`) when the site has no
/// configuration, or a request fails. With `keep`, the
/// backups beyond the newest `keep` are pruned afterwards (as
/// `prune_command`, silently unless that fails).
///
/// Each run also updates the site's exchange record (`exchange_record.h`):
/// per peer the last send that delivered everything, the last message
/// picked up from it (its sender known by the SSH transfer's delivery
/// marks, or by the message when a source cell sent it), and a failed send with the transfer script's last words about
/// it. Runs that moved something or failed, and each incoming file the
/// manager refused, get a line in the site's log (`exchange_log.h`).
int exchange_site(const std::string& dir, std::ostream& out, std::ostream& err,
                  std::optional<int> keep = std::nullopt, const exchange_extras& extras = {});

/// How long a burst of arrivals must pause before `watch_site` starts a
/// round, and how long a burst may delay it at most.
inline constexpr int debounce_ms = 100;
inline constexpr int debounce_limit_ms = 1000;

/// Exchanges for the site `dir` whenever a file arrives in its inbox or
/// waits in its outbox: one `exchange_site` round at the start and one
/// after each burst of arrivals (the kernel tells of them; nothing is
/// polled). Files that arrive during a round lead to another round.
/// When a round fails or leaves files in outbox, the next round comes
/// after `retry_seconds` at the latest. A box (or html) replaced, moved or
/// removed is watched anew, logged, and followed by a round. Runs until it
/// is stopped; returns 1 (with the reason on `err`) when `dir` is not a
/// site or its boxes cannot be watched, at the start or later.
int watch_site(const std::string& dir, std::ostream& out, std::ostream& err,
               std::optional<int> keep, int retry_seconds);

}  // namespace orvsite
