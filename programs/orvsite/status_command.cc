// `orvsite status`: gathers each site's figures once and writes them as
// text, JSON or metrics.
#include "programs/orvsite/status_command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "engine/cell_store.h"
#include "exchange/exchange.h"
#include "json/json.h"
#include "platform/platform.h"
#include "programs/orvsite/exchange_log.h"
#include "programs/orvsite/site_files.h"
#include "programs/orvsite/state_command.h"
#include "text/text.h"

namespace orvsite {
namespace {

using json::quote;

waiting_files waiting_in(const std::string& dir, const std::vector<std::string>& names) {
  waiting_files w;
  for (const std::string& name : names) {
    std::optional<platform::file_info> info = platform::stat_file(join(dir, name));
    if (!info) continue;  // gone meanwhile
    ++w.files;
    if (w.oldest == 0 || info->mtime_sec < w.oldest) w.oldest = info->mtime_sec;
  }
  return w;
}

std::string plural(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "3d 4h", "2h 5m", "4m 10s", "12s".
std::string span(std::int64_t s) {
  if (s < 0) s = 0;
  char buf[64];
  if (s >= 86400) {
    std::snprintf(buf, sizeof buf, "%lldd %lldh", static_cast<long long>(s / 86400),
                  static_cast<long long>(s % 86400 / 3600));
  } else if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%lldh %lldm", static_cast<long long>(s / 3600),
                  static_cast<long long>(s % 3600 / 60));
  } else if (s >= 60) {
    std::snprintf(buf, sizeof buf, "%lldm %llds", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  } else {
    std::snprintf(buf, sizeof buf, "%llds", static_cast<long long>(s));
  }
  return buf;
}

// A time for people: "2026-01-31T12:00:00Z (5m 3s ago)", or "never".
std::string when(std::int64_t t, std::int64_t now) {
  if (t == 0) return "never";
  return iso_time(t) + " (" + span(now - t) + " ago)";
}

std::string waiting_text(const waiting_files& w, std::int64_t now) {
  std::string text = plural(w.files, "file", "files");
  if (w.files > 0) text += ", oldest written " + span(now - w.oldest) + " ago";
  return text;
}

// A time as JSON: seconds since 1970, or null for never.
std::string json_time(std::int64_t t) { return t == 0 ? "null" : std::to_string(t); }

std::string json_waiting(const waiting_files& w, std::int64_t now) {
  return "{\"files\": " + std::to_string(w.files) +
         ", \"oldest\": " + json_time(w.oldest) +
         ", \"oldest_age_seconds\": " + (w.files ? std::to_string(now - w.oldest) : "null") + "}";
}

// A label value of the exposition format: \, " and line feed escaped.
std::string label(std::string_view s) {
  std::string l;
  for (char c : s) {
    if (c == '\\' || c == '"') l += '\\';
    if (c == '\n') {
      l += "\\n";
      continue;
    }
    l += c;
  }
  return l;
}

// One metric family: its help and type once, then one sample per labels.
class metric_family {
 public:
  metric_family(const char* name, const char* type, const char* help)
      : name_(name), type_(type), help_(help) {}
  void add(const std::string& labels, std::int64_t value) {
    samples_ += name_ + "{" + labels + "} " + std::to_string(value) + "\n";
  }
  void write(std::string& out) const {
    if (samples_.empty()) return;
    out += "# HELP " + name_ + " " + help_ + "\n# TYPE " + name_ + " " + type_ + "\n" + samples_;
  }

 private:
  std::string name_, type_, help_;
  std::string samples_;
};

}  // namespace

std::optional<std::int64_t> parse_duration(const std::string& text) {
  size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  if (digits == 0 || digits > 9) return std::nullopt;
  std::int64_t n = *text::parse_number<std::int64_t>(std::string_view(text).substr(0, digits), 0,
                                                     999999999);
  std::string unit = text.substr(digits);
  if (unit.empty() || unit == "s") return n;
  if (unit == "m") return n * 60;
  if (unit == "h") return n * 3600;
  if (unit == "d") return n * 86400;
  return std::nullopt;
}

site_status site_status_of(const std::string& dir, const status_limits& given, std::int64_t now) {
  site_status s;
  s.settings = read_site_settings(dir);
  status_limits limits = given;
  if (!given.failing_for_given) limits.failing_for = s.settings.failing_for;
  if (!given.waiting_for_given) limits.waiting_for = s.settings.waiting_for;
  s.settings.failing_for = limits.failing_for;
  s.settings.waiting_for = limits.waiting_for;
  s.dir = dir;
  std::string html = join(dir, html_dir);
  s.is_site = platform::exists(join(html, "config.txt"));
  if (!s.is_site) {
    s.attention.push_back("not a site: no " + join(html, "config.txt"));
    return s;
  }
  s.orv_id = site_orv_id(dir);

  std::string outbox = join(html, exchange::outbox_dir);
  std::vector<std::string> out_names = platform::list_file_names(outbox);
  s.outbox = waiting_in(outbox, out_names);
  std::string inbox = join(html, exchange::inbox_dir);
  s.inbox = waiting_in(inbox, platform::list_file_names(inbox));
  s.rejected = static_cast<int>(platform::list_file_names(join(html, exchange::rejected_dir)).size());

  std::string backups = join(html, engine::backup_dir);
  for (const std::string& c : backup_copies(backups)) {
    ++s.backups;
    if (auto info = platform::stat_file(join(backups, c))) s.backup_bytes += info->size;
  }
  if (auto dump = platform::stat_file(join(html, "dump_file"))) s.last_request = dump->mtime_sec;

  // The peers: those of the record, of the outbox and of the host map.
  s.record = read_exchange_record(dir, &s.record_present);
  std::vector<std::string> ids = known_peer_ids(dir);
  exchange_record peers = s.record;
  // Before they exchange, only the host map's peers are listed: the site
  // table may name sites this one never talks to.
  if (std::optional<std::string> map = platform::read_file(join(html, "orv_hosts"))) {
    std::istringstream lines(*map);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line.substr(0, line.find('#')));
      std::string first;
      if (words >> first && std::find(ids.begin(), ids.end(), first) != ids.end()) {
        peers.peer(first);
      }
    }
  }
  std::vector<std::string> peer_of(out_names.size());
  for (size_t i = 0; i < out_names.size(); ++i) {
    peer_of[i] = peers.peer(peer_of_file(out_names[i], ids)).peer;
  }
  for (const peer_record& r : peers.peers) {
    peer_status p;
    p.record = r;
    std::vector<std::string> mine;
    for (size_t i = 0; i < out_names.size(); ++i) {
      if (peer_of[i] == r.peer) mine.push_back(out_names[i]);
    }
    p.outbox = waiting_in(outbox, mine);
    s.peers.push_back(std::move(p));
  }

  s.problems = check_site(dir, nullptr);
  s.troubles = site_troubles_of(dir, s.settings, ids, now, &s.attention);

  for (const peer_status& p : s.peers) {
    if (p.record.failing_since != 0 && now - p.record.failing_since > limits.failing_for) {
      s.attention.push_back("sends to " + p.record.peer + " have failed for " +
                            span(now - p.record.failing_since) + ": " + p.record.failure_cause);
    }
  }
  if (s.outbox.files > 0 && now - s.outbox.oldest > limits.waiting_for) {
    s.attention.push_back("outbox: a file has waited " + span(now - s.outbox.oldest));
  }
  if (s.inbox.files > 0 && now - s.inbox.oldest > limits.waiting_for) {
    s.attention.push_back("inbox: a file has waited " + span(now - s.inbox.oldest));
  }
  if (s.record.last_failure != 0 && s.record.last_failure == s.record.last_run) {
    s.attention.push_back("the last exchange failed: " + s.record.failure_cause);
  }
  if (!s.problems.empty()) {
    s.attention.push_back("orvsite check: " + plural(static_cast<std::int64_t>(s.problems.size()),
                                                     "damaged or missing file",
                                                     "damaged or missing files"));
  }
  return s;
}

std::string status_text(const std::vector<site_status>& sites, std::int64_t now) {
  std::ostringstream out;
  for (const site_status& s : sites) {
    out << s.dir;
    if (!s.orv_id.empty()) out << " (orv id " << s.orv_id << ")";
    out << ": " << (s.attention.empty() ? "in order" : "NEEDS THE OPERATOR") << "\n";
    for (const std::string& a : s.attention) out << "  ! " << a << "\n";
    if (!s.is_site) continue;
    out << "  outbox: " << waiting_text(s.outbox, now) << "\n";
    out << "  inbox: " << waiting_text(s.inbox, now) << "\n";
    out << "  rejected: " << plural(s.rejected, "file", "files") << " in html/"
        << exchange::rejected_dir << "\n";
    out << "  backups: " << plural(s.backups, "copy", "copies") << ", " << s.backup_bytes
        << " bytes\n";
    out << "  last request: " << when(s.last_request, now) << "\n";
    if (!s.record_present) {
      out << "  exchange: no run recorded yet (" << exchange_record_file << ")\n";
    } else {
      out << "  last exchange: " << when(s.record.last_run, now)
          << "; last pick-up of a message: " << when(s.record.last_receive, now) << "\n";
      if (s.record.last_failure != 0) {
        out << "  last failed exchange: " << when(s.record.last_failure, now) << ": "
            << s.record.failure_cause << "\n";
      }
    }
    for (const std::string& d : s.record.damaged) {
      out << "  " << exchange_record_file << " is damaged, " << d << "\n";
    }
    for (const peer_status& p : s.peers) {
      const peer_record& r = p.record;
      out << "  peer " << r.peer << ": last send " << when(r.last_send, now) << ", last receive "
          << when(r.last_receive, now) << ", outbox " << waiting_text(p.outbox, now) << "\n";
      if (r.failing_since != 0) {
        out << "    failing since " << when(r.failing_since, now) << "\n";
      }
      if (r.last_failure != 0) {
        out << "    last failure " << when(r.last_failure, now) << ": " << r.failure_cause << "\n";
      }
    }
    out << troubles_text(s.troubles, now);
    for (const site_problem& p : s.problems) out << "  check: " << p.file << ": " << p.what << "\n";
  }
  return out.str();
}

std::string status_json(const std::vector<site_status>& sites, std::int64_t now) {
  bool attention = false;
  std::string j;
  for (const site_status& s : sites) {
    attention = attention || !s.attention.empty();
    if (!j.empty()) j += ",\n";
    j += "  {\"dir\": " + quote(s.dir) + ", \"is_site\": " + (s.is_site ? "true" : "false") +
         ", \"orv_id\": " + quote(s.orv_id) +
         ",\n   \"needs_attention\": " + (s.attention.empty() ? "false" : "true") +
         ", \"attention\": [";
    for (size_t i = 0; i < s.attention.size(); ++i) {
      j += (i ? ", " : "") + quote(s.attention[i]);
    }
    j += "],\n   \"outbox\": " + json_waiting(s.outbox, now) +
         ", \"inbox\": " + json_waiting(s.inbox, now) +
         ",\n   \"rejected\": " + std::to_string(s.rejected) +
         ", \"backups\": {\"count\": " + std::to_string(s.backups) +
         ", \"bytes\": " + std::to_string(s.backup_bytes) + "}" +
         ", \"last_request\": " + json_time(s.last_request) +
         ",\n   \"exchange\": {\"recorded\": " + (s.record_present ? "true" : "false") +
         ", \"last_run\": " + json_time(s.record.last_run) +
         ", \"last_receive\": " + json_time(s.record.last_receive) +
         ", \"last_failure\": " + json_time(s.record.last_failure) +
         ", \"failure_cause\": " + quote(s.record.failure_cause) + ", \"damaged\": [";
    for (size_t i = 0; i < s.record.damaged.size(); ++i) {
      j += (i ? ", " : "") + quote(s.record.damaged[i]);
    }
    j += "]},\n   \"peers\": [";
    for (size_t i = 0; i < s.peers.size(); ++i) {
      const peer_record& r = s.peers[i].record;
      j += std::string(i ? ",\n     " : "\n     ") + "{\"orv_id\": " + quote(r.peer) +
           ", \"last_send\": " + json_time(r.last_send) +
           ", \"last_receive\": " + json_time(r.last_receive) +
           ", \"failing_since\": " + json_time(r.failing_since) +
           ", \"last_failure\": " + json_time(r.last_failure) +
           ", \"failure_cause\": " + quote(r.failure_cause) +
           ", \"outbox\": " + json_waiting(s.peers[i].outbox, now) + "}";
    }
    j += "],\n   \"check\": [";
    for (size_t i = 0; i < s.problems.size(); ++i) {
      j += (i ? ", " : "") + std::string("{\"file\": ") + quote(s.problems[i].file) +
           ", \"what\": " + quote(s.problems[i].what) + "}";
    }
    j += "]" + (s.is_site ? troubles_json(s.troubles, now) : std::string()) + "}";
  }
  return "{\"time\": " + std::to_string(now) + ", \"needs_attention\": " +
         (attention ? "true" : "false") + ",\n \"sites\": [\n" + j + "\n ]}\n";
}

std::string status_prometheus(const std::vector<site_status>& sites, std::int64_t now) {
  metric_family up("orvsite_site_up", "gauge", "1 when the directory is a site, else 0.");
  metric_family attention("orvsite_needs_attention", "gauge",
                          "1 when the site needs the operator (see orvsite status).");
  metric_family check("orvsite_check_problems", "gauge",
                      "Damaged or missing files that orvsite check finds.");
  metric_family outbox("orvsite_outbox_files", "gauge", "Files waiting in outbox.");
  metric_family outbox_age("orvsite_outbox_oldest_age_seconds", "gauge",
                           "Age of the oldest file in outbox (0 when none).");
  metric_family inbox("orvsite_inbox_files", "gauge", "Files waiting in inbox.");
  metric_family inbox_age("orvsite_inbox_oldest_age_seconds", "gauge",
                          "Age of the oldest file in inbox (0 when none).");
  metric_family rejected("orvsite_rejected_files", "gauge", "Files set aside in inbox/rejected.");
  metric_family backups("orvsite_backup_copies", "gauge", "Backup copies of the store.");
  metric_family backup_bytes("orvsite_backup_bytes", "gauge", "Size of the backup copies.");
  metric_family last_request("orvsite_last_request_timestamp_seconds", "gauge",
                             "When the site last served a request (0: never).");
  metric_family last_run("orvsite_exchange_last_run_timestamp_seconds", "gauge",
                         "When orvsite exchange last ran (0: never).");
  metric_family last_receive("orvsite_exchange_last_receive_timestamp_seconds", "gauge",
                             "When a message was last picked up (0: never).");
  metric_family last_failure("orvsite_exchange_last_failure_timestamp_seconds", "gauge",
                             "When an exchange last failed as a whole (0: never).");
  metric_family damaged("orvsite_exchange_record_damaged_lines", "gauge",
                        "Lines of the exchange record that do not read.");
  metric_family peer_send("orvsite_peer_last_send_timestamp_seconds", "gauge",
                          "When everything for the peer was last delivered (0: never).");
  metric_family peer_receive("orvsite_peer_last_receive_timestamp_seconds", "gauge",
                             "When a message from the peer was last picked up (0: never).");
  metric_family peer_failing("orvsite_peer_failing", "gauge",
                             "1 while sends to the peer fail, else 0.");
  metric_family peer_failing_since("orvsite_peer_failing_since_timestamp_seconds", "gauge",
                                   "When the peer's current run of failed sends began (0: none).");
  metric_family peer_failure("orvsite_peer_last_failure_timestamp_seconds", "gauge",
                             "When a send to the peer last failed (0: never).");
  metric_family peer_outbox("orvsite_peer_outbox_files", "gauge",
                            "Files in outbox addressed to the peer.");
  metric_family free("orvsite_free_bytes", "gauge",
                      "Free bytes on the file system of the site (-1: unknown).");
  metric_family refusals("orvsite_exchange_refusals_last_day", "gauge",
                         "Refusal lines in the exchange log of the last day.");
  metric_family untakeable("orvsite_inbox_untakeable_entries", "gauge",
                           "Entries of inbox that pick-up never takes.");
  metric_family lock_held("orvsite_lock_held_seconds", "gauge",
                          "How long a held lock has been held (-1: unknown).");
  metric_family lock_pid("orvsite_lock_holder_pid", "gauge",
                         "The process the kernel names as the holder of a lock.");
  metric_family died("orvsite_exchange_died", "gauge",
                     "1 when an exchange was killed before it finished, else 0.");
  metric_family cut_files("orvsite_cut_send_files", "gauge",
                          "Files of sends cut short, waiting in html/.outbox-local.");
  metric_family cut_age("orvsite_cut_send_oldest_age_seconds", "gauge",
                        "How long the oldest of them has waited (0 when none).");
  metric_family cut_limit("orvsite_cut_send_limit_seconds", "gauge",
                          "The site's limit for a send cut short.");
  metric_family lock_limit("orvsite_lock_held_limit_seconds", "gauge",
                           "The site's limit for a held lock.");
  metric_family free_limit("orvsite_free_bytes_limit", "gauge",
                           "The site's limit for its free disk space.");
  metric_family failing_limit("orvsite_failing_for_limit_seconds", "gauge",
                              "The site's limit for failing sends.");
  metric_family staged_files("orvsite_peer_staging_files", "gauge",
                             "Files the peer has staged, not yet linked into inbox.");
  metric_family staged_bytes("orvsite_peer_staging_bytes", "gauge",
                             "Their size together.");
  metric_family peer_refused("orvsite_peer_refusals_last_day", "gauge",
                             "Refusals of the peer's deliveries in the exchange log, last day.");
  for (const site_status& s : sites) {
    std::string site = "dir=\"" + label(s.dir) + "\",site=\"" + label(s.orv_id) + "\"";
    if (s.is_site) {
      const site_troubles& t = s.troubles;
      free.add(site, t.free_bytes.value_or(-1));
      refusals.add(site, t.refusals);
      untakeable.add(site, static_cast<std::int64_t>(t.untakeable.size()));
      died.add(site, t.died_started != 0 ? 1 : 0);
      cut_files.add(site, static_cast<std::int64_t>(t.cut_sends.size()));
      cut_age.add(site, t.cut_sends.empty() ? 0 : now - t.cut_sends.front().since);
      cut_limit.add(site, s.settings.cut_send_for);
      lock_limit.add(site, s.settings.lock_held_for);
      free_limit.add(site, s.settings.free_space_below);
      failing_limit.add(site, s.settings.failing_for);
      for (const held_lock& l : t.locks) {
        std::string lock = site + ",lock=\"html/" + label(l.file) + "\"";
        lock_held.add(lock, l.since ? now - l.since : -1);
        lock_pid.add(lock, l.pid);
      }
      for (const staging_use& u : t.staging) {
        std::string peer = site + ",peer=\"" + label(u.peer) + "\"";
        staged_files.add(peer, u.files);
        staged_bytes.add(peer, u.bytes);
        peer_refused.add(peer, u.refused);
      }
    }
    up.add(site, s.is_site ? 1 : 0);
    attention.add(site, s.attention.empty() ? 0 : 1);
    if (!s.is_site) continue;
    check.add(site, static_cast<std::int64_t>(s.problems.size()));
    outbox.add(site, s.outbox.files);
    outbox_age.add(site, s.outbox.files ? now - s.outbox.oldest : 0);
    inbox.add(site, s.inbox.files);
    inbox_age.add(site, s.inbox.files ? now - s.inbox.oldest : 0);
    rejected.add(site, s.rejected);
    backups.add(site, s.backups);
    backup_bytes.add(site, s.backup_bytes);
    last_request.add(site, s.last_request);
    last_run.add(site, s.record.last_run);
    last_receive.add(site, s.record.last_receive);
    last_failure.add(site, s.record.last_failure);
    damaged.add(site, static_cast<std::int64_t>(s.record.damaged.size()));
    for (const peer_status& p : s.peers) {
      std::string peer = site + ",peer=\"" + label(p.record.peer) + "\"";
      peer_send.add(peer, p.record.last_send);
      peer_receive.add(peer, p.record.last_receive);
      peer_failing.add(peer, p.record.failing_since != 0 ? 1 : 0);
      peer_failing_since.add(peer, p.record.failing_since);
      peer_failure.add(peer, p.record.last_failure);
      peer_outbox.add(peer, p.outbox.files);
    }
  }
  std::string text;
  for (const metric_family* f :
       {&up, &attention, &check, &outbox, &outbox_age, &inbox, &inbox_age, &rejected, &backups,
        &backup_bytes, &last_request, &last_run, &last_receive, &last_failure, &damaged,
        &peer_send, &peer_receive, &peer_failing, &peer_failing_since, &peer_failure,
        &peer_outbox, &free, &refusals, &untakeable, &lock_held, &lock_pid, &died, &cut_files, &cut_age, &lock_limit,
        &free_limit, &failing_limit, &staged_files, &staged_bytes, &peer_refused}) {
    f->write(text);
  }
  return text;
}

bool write_prometheus(const std::string& file, const std::vector<site_status>& sites,
                      std::int64_t now, std::string* err) {
  return platform::replace_file(file, status_prometheus(sites, now), err, false);
}

int status_command(const std::vector<std::string>& dirs, const status_options& options,
                   std::ostream& out, std::ostream& err) {
  std::int64_t now = platform::now_seconds();
  std::vector<site_status> sites;
  bool attention = false;
  for (const std::string& dir : dirs) {
    sites.push_back(site_status_of(dir, options.limits, now));
    attention = attention || !sites.back().attention.empty();
  }
  if (options.prometheus_file) {
    std::string why;
    if (!write_prometheus(*options.prometheus_file, sites, now, &why)) {
      err << "orvsite status: cannot write the metrics: " << why << "\n";
      return 2;
    }
  } else if (options.json) {
    out << status_json(sites, now);
  } else {
    out << status_text(sites, now);
  }
  if (options.json && options.prometheus_file) out << status_json(sites, now);
  return attention ? 1 : 0;
}

}  // namespace orvsite
