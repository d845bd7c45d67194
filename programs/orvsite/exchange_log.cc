// The exchange log: the journal or a file.
#include "programs/orvsite/exchange_log.h"

#include <ctime>

#include "platform/platform.h"
#include "programs/orvsite/site_files.h"

namespace orvsite {

std::string iso_time(std::int64_t seconds) {
  return utc_text(seconds, "%Y-%m-%dT%H:%M:%SZ");
}

exchange_log::exchange_log(const std::string& dir, const std::optional<std::string>& file,
                           std::ostream& err)
    : err_(err) {
  if (file) {
    file_ = *file;
  } else if (!platform::stderr_is_journal()) {
    file_ = join(dir, default_exchange_log);
  }
}

void exchange_log::line(log_priority priority, const std::string& text) {
  if (file_.empty()) {
    // The journal keeps the time; the prefix sets the line's priority.
    err_ << "<" << static_cast<int>(priority) << ">" << text << "\n";
    err_.flush();
    return;
  }
  std::string slash_dir = file_.substr(0, file_.rfind('/') == std::string::npos ? 0 : file_.rfind('/'));
  if (!slash_dir.empty() && !platform::is_directory(slash_dir)) platform::make_directory(slash_dir);
  std::string why;
  if (!platform::append_file(file_, iso_time(platform::now_seconds()) + " " + text + "\n", &why) &&
      !failed_) {
    failed_ = true;
    err_ << "orvsite exchange: cannot write the log: " << why << "\n";
  }
}

}  // namespace orvsite
