// `orvsite status`: the state of the exchange of one or more sites at a
// glance (per peer: last send and receive, a failing transfer and why;
// files waiting, files refused, backups, the last request) for the
// operator, as JSON for tools, or as metrics for the node exporter's
// textfile collector; its exit status tells a monitor whether someone is
// needed.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "programs/orvsite/check_command.h"
#include "programs/orvsite/exchange_record.h"
#include "programs/orvsite/status_troubles.h"

namespace orvsite {

/// When a site needs the operator.
/// Given on the command line, they apply to every site; else each site's
/// own (html/exchange.conf) or the defaults there.
struct status_limits {
  std::int64_t failing_for = 600;  // a peer's sends have failed for longer (seconds)
  std::int64_t waiting_for = 600;  // a file has waited in outbox or inbox for longer
  bool failing_for_given = false;  // from the command line
  bool waiting_for_given = false;
};

/// What waits in one directory.
struct waiting_files {
  int files = 0;              // regular files
  std::int64_t oldest = 0;    // modification time of the oldest; 0 when none
};

/// A peer as one site sees it: its record and the files waiting for it.
struct peer_status {
  peer_record record;      // from the exchange record (times 0 when never)
  waiting_files outbox;    // the files of outbox addressed to it
};

/// Everything `orvsite status` tells of one site.
struct site_status {
  std::string dir;                 // as given
  bool is_site = false;            // html/config.txt exists
  std::string orv_id;              // from config.txt, when it reads
  waiting_files outbox, inbox;     // files waiting to be sent and to be picked up
  int rejected = 0;                // files set aside in inbox/rejected
  int backups = 0;                 // backup copies of the store
  std::int64_t backup_bytes = 0;   // their size together
  std::int64_t last_request = 0;   // when dump_file was last written; 0: never
  bool record_present = false;     // an exchange has run and left its record
  exchange_record record;          // the site's own lines (peers below)
  std::vector<peer_status> peers;  // sorted by orv id
  std::vector<site_problem> problems;  // what orvsite check finds
  std::vector<std::string> attention;  // why the operator is needed; empty: all is well
  site_settings settings;              // the site's own limits
  site_troubles troubles;              // staging, inbox, locks, a dead run, disk
};

/// Reads the site `dir` (nothing is written) and judges it by `limits` at
/// the time `now`.
site_status site_status_of(const std::string& dir, const status_limits& limits, std::int64_t now);

/// For people: a few lines per site.
std::string status_text(const std::vector<site_status>& sites, std::int64_t now);

/// For tools: one JSON object {"time": ..., "needs_attention": ..., "sites": [...]}.
std::string status_json(const std::vector<site_status>& sites, std::int64_t now);

/// The node exporter's textfile collector format (orvsite_* metrics,
/// labelled by site directory, orv id and peer).
std::string status_prometheus(const std::vector<site_status>& sites, std::int64_t now);

/// Writes `status_prometheus` to `file` aside and renames it into place, so
/// the collector never reads half a file. False, with `*err`, on failure.
bool write_prometheus(const std::string& file, const std::vector<site_status>& sites,
                      std::int64_t now, std::string* err);

/// The options of `orvsite status`.
struct status_options {
  status_limits limits;
  bool json = false;                           // JSON instead of text
  std::optional<std::string> prometheus_file;  // write metrics there instead of text
};

/// Runs `orvsite status` on `dirs`: 0 when every site is well, 1 when one
/// needs the operator (or is no site), 2 when the metrics cannot be written.
int status_command(const std::vector<std::string>& dirs, const status_options& options,
                   std::ostream& out, std::ostream& err);

/// "90" -> 90 seconds; also "15m", "2h", "1d", "30s". Nothing when it is not that.
std::optional<std::int64_t> parse_duration(const std::string& text);

}  // namespace orvsite
