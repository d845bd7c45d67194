// The exchange log of a site: one line per exchange that moved something
// or failed, and one per incoming file the manager refused. Under systemd
// the lines go to the journal (standard error, with a priority); otherwise
// they are appended to a file with the time in front.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace orvsite {

/// The log file of a site when none is chosen, below the site directory
/// (inside html, which the web server never serves).
inline constexpr const char* default_exchange_log = "html/log/exchange.log";

/// How much of the log's end a reader takes: a day of a busy site's lines,
/// without letting a flood of refusals make a reader hold the whole file.
inline constexpr std::size_t exchange_log_tail_bytes = std::size_t{4} << 20;

/// How bad a logged event is, as syslog numbers it.
enum class log_priority { error = 3, warning = 4, info = 6 };

/// Where the lines of one run go.
class exchange_log {
 public:
  /// The log of the site `dir`: `file` when given; else the journal when
  /// standard error is the journal's stream; else the site's default file.
  /// `err` is standard error (the journal's stream, when it is that).
  exchange_log(const std::string& dir, const std::optional<std::string>& file, std::ostream& err);

  /// Writes one line. A log that cannot be written is said once on `err`;
  /// the exchange goes on.
  void line(log_priority priority, const std::string& text);

 private:
  std::ostream& err_;
  std::string file_;      // the file, or empty for the journal
  bool failed_ = false;   // a write failed already (said once)
};

/// `seconds` since 1970 as "2026-01-31T12:00:00Z".
std::string iso_time(std::int64_t seconds);

}  // namespace orvsite
