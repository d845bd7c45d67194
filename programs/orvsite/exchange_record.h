// The exchange record of a site: what the runs of `orvsite exchange` saw,
// per peer site (last send and receive, a failing transfer and why), kept
// in one small text file for `orvsite status`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace orvsite {

/// The record, below the site directory (inside html, which the web server
/// never serves).
inline constexpr const char* exchange_record_file = "html/exchange.state";

/// What the exchanges saw of one peer site. Times are seconds since 1970;
/// 0 stands for never.
struct peer_record {
  std::string peer;               // the peer's orv id
  std::int64_t last_send = 0;     // the last run that delivered all its files
  std::int64_t last_receive = 0;  // the last run that picked up a message from it
  std::int64_t failing_since = 0; // first failed send since the last good one; 0: not failing
  std::int64_t last_failure = 0;  // the last failed send
  std::string failure_cause;      // what the transfer script said then, one line
};

/// The whole record of a site.
struct exchange_record {
  std::int64_t last_run = 0;      // the last exchange
  std::int64_t last_receive = 0;  // the last pick-up of any message (a sender may be unknown)
  std::int64_t last_failure = 0;  // the last run whose manager failed
  std::string failure_cause;      // what it said then, one line
  std::vector<peer_record> peers; // sorted by orv id
  std::vector<std::string> damaged;  // lines that did not read: "line N: what is wrong"

  /// The entry of `peer` (letter case does not matter), added when missing.
  peer_record& peer(const std::string& id);
};

/// The record held by `text`. Lines that do not read are left out and
/// named in `damaged`; the others still count.
exchange_record parse_exchange_record(std::string_view text);

/// The text of the record (without its `damaged` list).
std::string format_exchange_record(const exchange_record& r);

/// The record of the site `dir`: empty when there is none yet (`*present`
/// false); a file that cannot be read is noted in `damaged`.
exchange_record read_exchange_record(const std::string& dir, bool* present = nullptr);

/// Replaces the record of the site `dir` whole (written aside, then
/// renamed). False, with `*err`, when that fails.
bool write_exchange_record(const std::string& dir, const exchange_record& r, std::string* err);

/// `text` as one line (see text/text.h).
using text::one_line;

}  // namespace orvsite

namespace orvsite {

/// The orv id in the config.txt of the site `dir`; empty when there is none.
std::string site_orv_id(const std::string& dir);

/// The orv ids a site exchanges with: the sites of its table (site.config)
/// and of its host map (orv_hosts), its own orv id left out.
std::vector<std::string> known_peer_ids(const std::string& dir);

/// The peer a message file is for: the id of `ids` that begins `name`
/// (letter case does not matter) followed by digits only, the longest one
/// when several do; without one, `name` without its trailing digits.
std::string peer_of_file(const std::string& name, const std::vector<std::string>& ids);

}  // namespace orvsite
