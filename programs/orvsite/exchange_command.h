// `orvsite exchange`: one round of message exchange of a site, as a
// scheduler runs it: send what waits in `outbox`, then pick up.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvsite {

/// The file in `html` that notes which warnings about the stored cells an
/// exchange reported today (each is reported once a day).
inline constexpr const char* reported_file = "exchange.reported";

/// The query strings of the two requests.
inline constexpr const char* send_query = "message_type=SYS_SEND_MSG&flag=orv";
inline constexpr const char* pick_up_query = "message_type=SYS_PICK_UP_MSG&flag=orv";

/// The environment a web server would give the manager for a GET request
/// with `query`: nothing of the caller's but PATH (the transfer scripts run
/// programs) and HOME (where they find their keys).
std::vector<std::string> cgi_environment(const std::string& program, const std::string& query);

/// Runs the manager of the site `dir` with SYS_SEND_MSG (only when `outbox`
/// holds a file) and then with SYS_PICK_UP_MSG, each as a CGI request. The
/// manager takes the site's run lock itself for each request. Writes
/// nothing when nothing was sent or picked up, otherwise a short summary to
/// `out`; on `err` the problems of this round (messages left in outbox,
/// errors about the messages taken) and, once a day per text, the errors
/// the manager reports before it takes a message (about the stored cells). Returns 0, or 1 (with the reason on `err`) when the site has no
/// manager or configuration, or the manager fails. With `keep`, the
/// backups beyond the newest `keep` are pruned afterwards (as
/// `prune_command`, silently unless that fails).
int exchange_site(const std::string& dir, std::ostream& out, std::ostream& err,
                  std::optional<int> keep = std::nullopt);

}  // namespace orvsite
