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

namespace orvsite {

/// One file's header in a delivery: exactly `delivery_header_size` bytes,
/// "TRANSFER_ID SIZE" padded with spaces and ended by a newline.
inline constexpr std::size_t delivery_header_size = 256;

struct delivery_header {
  std::string id;
  std::int64_t size = 0;
};

/// The header of one file, or nothing when `bytes` is not one: not
/// `delivery_header_size` bytes ending in a newline, an id that is empty,
/// hidden or holds other characters than letters, digits and _ . -, a
/// size of no digits or more than 15, or anything but spaces after it.
std::optional<delivery_header> parse_delivery_header(std::string_view bytes);

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
int deliver(const std::string& html, const std::string& peer, std::istream& in,
            std::ostream& out, std::ostream& err);

}  // namespace orvsite
