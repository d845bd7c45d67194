// The troubles `orvsite status` finds beyond the exchange record.
#include "programs/orvsite/status_troubles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <sstream>

#include "exchange/exchange.h"
#include "json/json.h"
#include "platform/lock_holders.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "programs/orvsite/exchange_log.h"
#include "programs/orvsite/site_files.h"
#include "programs/orvsite/status_command.h"
#include "text/text.h"

namespace orvsite {
namespace {

namespace fs = std::filesystem;
using json::quote;
using text::lower;

// A name for a line of text: control characters shown as \n or \xNN.
std::string shown(const std::string& name) {
  std::string s;
  for (unsigned char c : name) {
    if (c == '\n') {
      s += "\\n";
    } else if (c < 0x20 || c == 0x7f) {
      const char* hex = "0123456789abcdef";
      s += "\\x";
      s += hex[c >> 4];
      s += hex[c & 15];
    } else {
      s += static_cast<char>(c);
    }
  }
  return s;
}

// "2026-12-09T11:40:08Z" at the start of a log line, as seconds; 0 when not.
std::int64_t log_time(const std::string& line) {
  if (line.size() < 20 || line[19] != 'Z') return 0;
  std::tm tm{};
  if (std::sscanf(line.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6) {
    return 0;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<std::int64_t>(timegm(&tm));
}

// Whether `text` names the peer `id` as a word (its transfer ids begin
// "ID.", its messages "ID" and digits).
bool names_peer(const std::string& text, const std::string& id) {
  std::string t = lower(text), i = lower(id);
  for (size_t at = t.find(i); at != std::string::npos; at = t.find(i, at + 1)) {
    bool before = at == 0 || !(std::isalnum(static_cast<unsigned char>(t[at - 1])) || t[at - 1] == '_' || t[at - 1] == '-');
    char next = at + i.size() < t.size() ? t[at + i.size()] : ' ';
    bool after = !(std::isalpha(static_cast<unsigned char>(next)) || next == '_' || next == '-');
    if (before && after) return true;
  }
  return false;
}

// "512", "64k", "100M", "2G" as bytes.
std::optional<std::int64_t> parse_bytes(const std::string& text) {
  size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  if (digits == 0 || digits > 12) return std::nullopt;
  std::int64_t n = std::stoll(text.substr(0, digits));
  std::string unit = text.substr(digits);
  if (unit.empty()) return n;
  if (unit == "k") return n * 1024;
  if (unit == "M") return n * 1024 * 1024;
  if (unit == "G") return n * 1024 * 1024 * 1024;
  return std::nullopt;
}

std::string span_of(std::int64_t s) {
  if (s < 0) s = 0;
  if (s >= 3600) return std::to_string(s / 3600) + "h " + std::to_string(s % 3600 / 60) + "m";
  if (s >= 60) return std::to_string(s / 60) + "m " + std::to_string(s % 60) + "s";
  return std::to_string(s) + "s";
}

staging_use& use_of(std::vector<staging_use>& all, const std::string& peer) {
  for (staging_use& u : all) {
    if (lower(u.peer) == lower(peer)) return u;
  }
  all.push_back({});
  all.back().peer = peer;
  return all.back();
}

}  // namespace

site_settings read_site_settings(const std::string& dir) {
  site_settings s;
  // Read as a plain file of the site (a FIFO would stop every status and
  // watch); one that is refused counts as damaged.
  std::string why;
  std::optional<std::string> text =
      platform::read_site_file(join(dir, site_settings_file), &why, 1 << 16);
  if (!text && !why.empty()) s.damaged.push_back(why);
  std::istringstream in(text.value_or(""));
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::istringstream words(line.substr(0, line.find('#')));
    std::string name, value, extra;
    if (!(words >> name)) continue;
    auto bad = [&](const std::string& what) {
      s.damaged.push_back("line " + std::to_string(number) + ": " + what);
    };
    if (!(words >> value) || (words >> extra)) {
      bad("not NAME VALUE");
      continue;
    }
    if (name == "free-space-below") {
      std::optional<std::int64_t> b = parse_bytes(value);
      if (b) s.free_space_below = *b; else bad(value + " is not a size such as 100M");
      continue;
    }
    std::int64_t* into = name == "failing-for"     ? &s.failing_for
                         : name == "waiting-for"   ? &s.waiting_for
                         : name == "retry"         ? &s.retry
                         : name == "lock-held-for" ? &s.lock_held_for
                         : name == "cut-send-for"  ? &s.cut_send_for
                                                   : nullptr;
    if (!into) {
      bad("unknown setting " + name);
      continue;
    }
    std::optional<std::int64_t> d = parse_duration(value);
    if (!d || *d < 1) {
      bad(value + " is not a time such as 90, 10m or 1h");
      continue;
    }
    *into = *d;
  }
  return s;
}

running_mark::running_mark(const std::string& dir) : file_(join(dir, running_file)) {
  std::string why;
  if (std::optional<std::string> left = platform::read_site_file(file_, &why, 4096)) {
    std::istringstream words(*left);
    long long pid = 0, started = 0;
    if (words >> pid >> started) {
      previous_ = "started " + iso_time(started) + " by pid " + std::to_string(pid);
    }
  }
  platform::replace_file(file_, std::to_string(platform::process_id()) + " " +
                                    std::to_string(platform::now_seconds()) + "\n",
                         &why, false);
}

running_mark::~running_mark() { platform::remove_file(file_); }

site_troubles site_troubles_of(const std::string& dir, const site_settings& settings,
                               const std::vector<std::string>& peer_ids, std::int64_t now,
                               std::vector<std::string>* attention) {
  site_troubles t;
  std::string html = join(dir, html_dir);
  std::string orv_id = site_orv_id(dir);

  // Staged files: the transfer id SENDER.NAME.HASH names the sender.
  std::string staging = join(html, ".inbox-staging");
  std::int64_t oldest_staged = 0;
  for (const std::string& name : platform::list_file_names(staging)) {
    if (name.empty() || name[0] == '.') continue;
    std::optional<platform::file_info> info = platform::stat_file(join(staging, name));
    if (!info) continue;
    staging_use& u = use_of(t.staging, name.substr(0, name.find('.')));
    ++u.files;
    u.bytes += info->size;
    if (oldest_staged == 0 || info->mtime_sec < oldest_staged) oldest_staged = info->mtime_sec;
  }

  // Refusals in the log of the last day, each counted for the peer it names.
  // Only the log's recent end is read: a flood of refusals cannot make
  // status read without bound, and the log must be the site's own file.
  std::string log_err;
  std::istringstream log(platform::read_site_file_tail(join(dir, default_exchange_log), &log_err,
                                                       exchange_log_tail_bytes)
                             .value_or(""));
  for (std::string line; std::getline(log, line);) {
    if (line.find("refused") == std::string::npos) continue;
    std::int64_t at = log_time(line);
    if (at != 0 && now - at > 86400) continue;
    ++t.refusals;
    t.last_refusal = line;
    for (const std::string& id : peer_ids) {
      if (names_peer(line.substr(std::min(line.size(), line.find("refused"))), id)) {
        ++use_of(t.staging, id).refused;
        break;
      }
    }
  }
  std::sort(t.staging.begin(), t.staging.end(),
            [](const staging_use& a, const staging_use& b) { return a.peer < b.peer; });

  // Entries of inbox that pick-up never takes.
  std::error_code ec;
  std::string inbox = join(html, exchange::inbox_dir);
  std::string rejected = std::string(exchange::rejected_dir).substr(std::string(exchange::inbox_dir).size() + 1);
  for (fs::directory_iterator it(inbox, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::string why;
    fs::file_status st = it->symlink_status(ec);
    if (ec) break;
    if (fs::is_symlink(st)) {
      why = "a symbolic link";
    } else if (fs::is_directory(st)) {
      if (name == rejected) continue;
      why = "a directory";
    } else if (!fs::is_regular_file(st)) {
      why = "neither a file nor a directory";
    } else if (std::any_of(name.begin(), name.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
      why = "a name with a control character";
    } else if (name[0] == '.') {
      // A sender may write under a hidden name before it renames: only an
      // old one stays for good.
      std::optional<platform::file_info> info = platform::stat_file(join(inbox, name));
      if (!info || now - info->mtime_sec <= settings.waiting_for) continue;
      why = "a hidden name";
    } else if (!orv_id.empty() && !exchange::is_for_site(name, orv_id)) {
      // Sites sharing an inbox take their own files soon.
      std::optional<platform::file_info> info = platform::stat_file(join(inbox, name));
      if (!info || now - info->mtime_sec <= settings.waiting_for) continue;
      why = "not for this site (its name does not begin with " + orv_id + ")";
    } else {
      continue;
    }
    t.untakeable.push_back({shown(name), why});
  }
  std::sort(t.untakeable.begin(), t.untakeable.end(),
            [](const untakeable_entry& a, const untakeable_entry& b) { return a.name < b.name; });

  // Locks held now, and since when as far as the holder tells.
  std::int64_t running_started = 0;
  int running_pid = 0;
  std::string mark_why;
  if (std::optional<std::string> mark = platform::read_site_file(join(dir, running_file), &mark_why, 4096)) {
    std::istringstream words(*mark);
    long long pid = 0, started = 0;
    if (words >> pid >> started) {
      running_pid = static_cast<int>(pid);
      running_started = started;
    }
  }
  bool exchange_held = false;
  for (const char* file : {"run.lock", "exchange.lock", ".inbox-link/lock"}) {
    std::optional<int> pid = platform::flock_holder(join(html, file));
    if (!pid) continue;
    held_lock l;
    l.file = file;
    l.pid = *pid;
    if (std::string(file) == "exchange.lock") {
      exchange_held = true;
      if (*pid == running_pid) l.since = running_started;
    }
    if (l.since == 0) l.since = platform::process_started(*pid).value_or(0);
    if (l.since != 0 && now - l.since > settings.lock_held_for) {
      attention->push_back("html/" + l.file + " has been held for " + span_of(now - l.since) +
                           " by pid " + std::to_string(l.pid));
    }
    t.locks.push_back(l);
  }
  // A mark with no exchange holding the lock: that run was killed.
  if (running_started != 0 && !exchange_held) {
    t.died_started = running_started;
    t.died_pid = running_pid;
    attention->push_back("the exchange started " + iso_time(running_started) + " by pid " +
                         std::to_string(running_pid) + " died without finishing");
  }

  // Sends cut short: the put script moved the file aside (which sets its
  // change time) and was stopped before it was delivered.
  std::string cut_dir = join(html, exchange::cut_send_dir);
  for (const std::string& name : platform::list_file_names(cut_dir)) {
    std::optional<platform::file_info> info = platform::stat_file(join(cut_dir, name));
    if (!info) continue;
    t.cut_sends.push_back({shown(name), info->ctime_sec});
  }
  std::sort(t.cut_sends.begin(), t.cut_sends.end(), [](const cut_send& a, const cut_send& b) {
    return a.since != b.since ? a.since < b.since : a.name < b.name;
  });
  if (!t.cut_sends.empty() && now - t.cut_sends.front().since > settings.cut_send_for) {
    attention->push_back(std::string("html/") + exchange::cut_send_dir + ": " +
                         t.cut_sends.front().name + " has waited " +
                         span_of(now - t.cut_sends.front().since) +
                         " in a send cut short (the next send or exchange finishes it)");
  }

  if (oldest_staged != 0 && now - oldest_staged > settings.waiting_for) {
    attention->push_back("html/.inbox-staging: a delivery has waited " +
                         span_of(now - oldest_staged) + " to be linked into inbox");
  }
  if (!t.untakeable.empty()) {
    attention->push_back("inbox: " + std::to_string(t.untakeable.size()) +
                         (t.untakeable.size() == 1 ? " entry" : " entries") +
                         " pick-up will never take (" + t.untakeable.front().name + ": " +
                         t.untakeable.front().why + (t.untakeable.size() > 1 ? ", ..." : "") + ")");
  }
  t.free_bytes = platform::free_bytes(html);
  if (t.free_bytes && *t.free_bytes < settings.free_space_below) {
    attention->push_back("the disk of the site has " + std::to_string(*t.free_bytes / (1024 * 1024)) +
                         " MB free (the limit is " +
                         std::to_string(settings.free_space_below / (1024 * 1024)) + " MB)");
  }
  for (const std::string& d : settings.damaged) {
    attention->push_back(std::string(site_settings_file) + " does not read, " + d);
  }
  if (!log_err.empty()) attention->push_back("the exchange log does not read: " + log_err);
  return t;
}

std::string troubles_text(const site_troubles& t, std::int64_t now) {
  std::ostringstream out;
  out << "  free disk space: "
      << (t.free_bytes ? std::to_string(*t.free_bytes / (1024 * 1024)) + " MB" : "unknown") << "\n";
  for (const staging_use& u : t.staging) {
    out << "  staging from " << u.peer << ": " << u.files << (u.files == 1 ? " file, " : " files, ")
        << u.bytes << " bytes; " << u.refused << (u.refused == 1 ? " refusal" : " refusals")
        << " in the last day\n";
  }
  for (const untakeable_entry& e : t.untakeable) {
    out << "  inbox: " << e.name << ": " << e.why << ", never picked up\n";
  }
  for (const held_lock& l : t.locks) {
    out << "  lock html/" << l.file << ": held by pid " << l.pid;
    if (l.since != 0) out << " for " << span_of(now - l.since);
    out << "\n";
  }
  for (const cut_send& c : t.cut_sends) {
    out << "  send cut short: " << c.name << " held in html/" << exchange::cut_send_dir << " for "
        << span_of(now - c.since) << "\n";
  }
  if (t.died_started != 0) {
    out << "  died: the exchange started " << iso_time(t.died_started) << " by pid " << t.died_pid
        << "\n";
  }
  out << "  refusals in the exchange log (last day): " << t.refusals;
  if (!t.last_refusal.empty()) out << "; the newest: " << t.last_refusal;
  out << "\n";
  return out.str();
}

std::string troubles_json(const site_troubles& t, std::int64_t now) {
  std::string j = ",\n   \"free_bytes\": " +
                  (t.free_bytes ? std::to_string(*t.free_bytes) : std::string("null")) +
                  ", \"refusals\": {\"last_day\": " + std::to_string(t.refusals) +
                  ", \"newest\": " + quote(t.last_refusal) + "}" +
                  ",\n   \"staging\": [";
  for (size_t i = 0; i < t.staging.size(); ++i) {
    const staging_use& u = t.staging[i];
    j += (i ? ", " : "") + std::string("{\"peer\": ") + quote(u.peer) +
         ", \"files\": " + std::to_string(u.files) + ", \"bytes\": " + std::to_string(u.bytes) +
         ", \"refused\": " + std::to_string(u.refused) + "}";
  }
  j += "],\n   \"inbox_untakeable\": [";
  for (size_t i = 0; i < t.untakeable.size(); ++i) {
    j += (i ? ", " : "") + std::string("{\"name\": ") + quote(t.untakeable[i].name) +
         ", \"why\": " + quote(t.untakeable[i].why) + "}";
  }
  j += "],\n   \"locks\": [";
  for (size_t i = 0; i < t.locks.size(); ++i) {
    const held_lock& l = t.locks[i];
    j += (i ? ", " : "") + std::string("{\"file\": ") + quote("html/" + l.file) +
         ", \"pid\": " + std::to_string(l.pid) +
         ", \"held_seconds\": " + (l.since ? std::to_string(now - l.since) : std::string("null")) +
         "}";
  }
  j += "],\n   \"cut_sends\": [";
  for (size_t i = 0; i < t.cut_sends.size(); ++i) {
    j += (i ? ", " : "") + std::string("{\"name\": ") + quote(t.cut_sends[i].name) +
         ", \"held_seconds\": " + std::to_string(now - t.cut_sends[i].since) + "}";
  }
  j += "],\n   \"died\": ";
  j += t.died_started == 0 ? std::string("null")
                           : "{\"started\": " + std::to_string(t.died_started) +
                                 ", \"pid\": " + std::to_string(t.died_pid) + "}";
  return j;
}

}  // namespace orvsite
