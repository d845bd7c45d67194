// `orvsite exchange`: one round of message exchange of a site, as a
// scheduler runs it: send what waits in `outbox`, then pick up.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvsite {

/// The query strings of the two requests.
inline constexpr const char* send_query = "message_type=SYS_SEND_MSG&flag=orv";
inline constexpr const char* pick_up_query = "message_type=SYS_PICK_UP_MSG&flag=orv";

/// The environment a web server would give the manager for a GET request
/// with `query`: nothing of the caller's but PATH (the transfer scripts run
/// programs) and HOME (where they find their keys).
std::vector<std::string> cgi_environment(const std::string& program, const std::string& query);

/// Where an exchange writes besides its output.
struct exchange_extras {
  std::optional<std::string> log_file;         // the log, instead of the journal or html/log
  std::optional<std::string> prometheus_file;  // the site's metrics, written after the run
};

/// Runs the manager of the site `dir` with SYS_SEND_MSG (only when `outbox`
/// holds a file) and then with SYS_PICK_UP_MSG, each as a CGI request. The
/// manager takes the site's run lock itself for each request. Writes
/// nothing when nothing was sent or picked up, otherwise a short summary to
/// `out`. Returns 0, or 1 (with the reason on `err`) when the site has no
/// manager or configuration, or the manager fails. With `keep`, the
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

}  // namespace orvsite
