// `orvsite deliver`: the receiving end of a delivery over SSH, in one
// process. A peer's forced command (orv_ssh_serve.sh) hands it the message
// files a sender streams to `orv-deliver SITE/html`; it stages them within
// the site's staging limits and links each into `inbox` exactly once, by
// the rules and with the answers of the shell link-in (orv_ssh_link.sh),
// which stays the receiver where orvsite is not installed.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "programs/orvsite/delivery.h"

namespace orvsite {

/// The staging limits of a site (`html/orv_staging_limits`).
struct staging_limits {
  std::int64_t files = 1000;
  std::int64_t bytes = 67108864;
};

/// The limits of the site `html`: the lines "files N" and "bytes N" of
/// its first 4096 bytes; the defaults for what is missing or unreadable.
staging_limits read_staging_limits(const std::string& html);

/// Reads a delivery from `in` for the site whose html directory is `html`
/// (from the sender `peer`, lower case, when the key names one) and links
/// it in: one answer line per file on `out` ("linked ID NAME", "known ID",
/// "bad ID", "refused ID WHY"), a reason on `err`. Returns 0, or 1 when the
/// site cannot take deliveries (its directories, its orv id, its lock).
/// With `batches`, `in` carries one delivery after another, each ended by
/// `batch_end_record()`: each is linked in and answered, its answer ended
/// by the line `batch_done`, until the input ends or a delivery stops short.
int deliver(const std::string& html, const std::string& peer, std::istream& in,
            std::ostream& out, std::ostream& err, bool batches = false);

}  // namespace orvsite
