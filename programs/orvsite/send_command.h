// `orvsite send`: the delivery of the SSH put script (orv_ftp_put.cmd) in
// one process: the files of outbox go to the peers of the host map, one ssh
// session per peer, with the script's work directory, ssh command lines,
// answers and reports. The script execs it when ORVSITE names it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace orvsite {

/// The name the reports begin with: the put script's, so that the site
/// manager and `orvsite exchange` read them as ever.
inline constexpr const char* put_script_name = "orv_ftp_put.cmd";

/// The id of `ids` (the first words of the host map's lines, in order) of
/// the peer a message file `name` is for: the id that begins the name,
/// letter case aside, followed by one digit or more and nothing else. The
/// longest such id wins, the first of equal length; empty when none fits.
std::string message_peer(std::string_view name, const std::vector<std::string>& ids);

/// What ssh or rsync wrote on standard error (`text`), as a report shows it:
/// carriage returns removed, blank lines dropped, the last 20 lines, each cut
/// to 300 bytes and set after "orv_ftp_put.cmd:   "; each line ends with a
/// newline.
std::string error_report(std::string_view text);

/// The directory of the sockets of kept connections, `html`/ssh/control,
/// when html/ssh is this user's and that directory is (or can be made)
/// this user's own and no link; empty otherwise.
std::string kept_sockets(const std::string& html);

/// How long a kept connection stays open after its last send, in seconds
/// (ORV_SSH_PERSIST; 300 when unset or no number); 0 keeps none.
std::string kept_seconds();

/// Opens, through the carrier of the watch this process runs in
/// (ORV_CARRIER), the delivery session to each peer of `html`/orv_hosts
/// that kept connections can reach, with an empty delivery: the first
/// message to each then finds its connection open. Says nothing; a peer
/// out of reach is tried again by the first delivery to it.
void open_sessions(const std::string& html);

/// Sends the message files of `html`/outbox to the peers of `html`/orv_hosts
/// as the put script does, reporting on `err`. 0, or 1 when a file stays in
/// outbox.
int send_command(const std::string& html, std::ostream& err);

}  // namespace orvsite
