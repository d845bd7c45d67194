// The exchange record: one line per site and per peer, blank-separated
// numbers and the failure's words last.
#include "programs/orvsite/exchange_record.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "platform/platform.h"
#include "platform/site_file.h"
#include "programs/orvsite/site_files.h"
#include "site/config.h"
#include "site/site_table.h"
#include "site/world.h"
#include "text/text.h"

namespace orvsite {
namespace {

constexpr std::string_view header =
    "# orvsite exchange: what the exchanges of this site saw (seconds since 1970, 0 for never)\n"
    "# site LAST_RUN LAST_RECEIVE LAST_FAILURE CAUSE\n"
    "# peer ORV_ID LAST_SEND LAST_RECEIVE FAILING_SINCE LAST_FAILURE CAUSE\n";

bool same_id(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return text::lower(x) == text::lower(y); });
}

// The next blank-separated word of `line` from `*at`.
std::string_view word(std::string_view line, size_t* at) {
  while (*at < line.size() && line[*at] == ' ') ++*at;
  size_t end = line.find(' ', *at);
  if (end == std::string_view::npos) end = line.size();
  std::string_view w = line.substr(*at, end - *at);
  *at = end;
  return w;
}

bool number(std::string_view w, std::int64_t* n) {
  std::optional<std::int64_t> v = text::parse_number<std::int64_t>(w, 0, 999999999999999999);
  if (v) *n = *v;
  return v.has_value();
}

bool plain_id(std::string_view id) {
  return !id.empty() && id.size() <= 64 &&
         id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.") ==
             std::string_view::npos;
}

// The numbers of a line into `fields`; false when one is missing or no number.
bool numbers(std::string_view line, size_t* at, std::initializer_list<std::int64_t*> fields) {
  for (std::int64_t* f : fields) {
    if (!number(word(line, at), f)) return false;
  }
  return true;
}

std::string rest_of(std::string_view line, size_t at) {
  while (at < line.size() && line[at] == ' ') ++at;
  return std::string(line.substr(std::min(at, line.size())));
}

}  // namespace

peer_record& exchange_record::peer(const std::string& id) {
  for (peer_record& p : peers) {
    if (same_id(p.peer, id)) return p;
  }
  peer_record p;
  p.peer = id;
  auto at = std::lower_bound(peers.begin(), peers.end(), id,
                             [](const peer_record& a, const std::string& b) { return a.peer < b; });
  return *peers.insert(at, std::move(p));
}

exchange_record parse_exchange_record(std::string_view text) {
  exchange_record r;
  int n = 0;
  bool site_seen = false;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++n;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    auto damaged = [&](const char* what) {
      r.damaged.push_back("line " + std::to_string(n) + ": " + what);
    };
    size_t at = 0;
    std::string_view kind = word(line, &at);
    if (kind == "site") {
      exchange_record s;
      if (site_seen) {
        damaged("a second site line");
      } else if (!numbers(line, &at, {&s.last_run, &s.last_receive, &s.last_failure})) {
        damaged("the site line does not hold three times");
      } else {
        site_seen = true;
        r.last_run = s.last_run;
        r.last_receive = s.last_receive;
        r.last_failure = s.last_failure;
        r.failure_cause = rest_of(line, at);
      }
    } else if (kind == "peer") {
      std::string id(word(line, &at));
      peer_record p;
      if (!plain_id(id)) {
        damaged("a peer line without a plain orv id");
      } else if (!numbers(line, &at,
                          {&p.last_send, &p.last_receive, &p.failing_since, &p.last_failure})) {
        damaged("a peer line does not hold four times");
      } else {
        peer_record& into = r.peer(id);
        p.peer = into.peer;
        p.failure_cause = rest_of(line, at);
        into = std::move(p);
      }
    } else {
      damaged("neither a site nor a peer line");
    }
  }
  return r;
}

std::string format_exchange_record(const exchange_record& r) {
  std::ostringstream out;
  out << header << "site " << r.last_run << " " << r.last_receive << " " << r.last_failure;
  if (!r.failure_cause.empty()) out << " " << one_line(r.failure_cause);
  out << "\n";
  for (const peer_record& p : r.peers) {
    out << "peer " << p.peer << " " << p.last_send << " " << p.last_receive << " "
        << p.failing_since << " " << p.last_failure;
    if (!p.failure_cause.empty()) out << " " << one_line(p.failure_cause);
    out << "\n";
  }
  return out.str();
}

exchange_record read_exchange_record(const std::string& dir, bool* present) {
  std::string path = join(dir, exchange_record_file);
  if (present) *present = platform::exists(path);
  if (!platform::exists(path)) return {};
  std::string why;
  std::optional<std::string> text = platform::read_site_file(path, &why, 1 << 20);
  if (!text) {
    exchange_record r;
    r.damaged.push_back(why.empty() ? "cannot be read" : why);
    return r;
  }
  return parse_exchange_record(*text);
}

bool write_exchange_record(const std::string& dir, const exchange_record& r, std::string* err) {
  // Only a hint for the operator: no wait for the disk.
  return platform::replace_file(join(dir, exchange_record_file), format_exchange_record(r), err,
                                false);
}

std::string site_orv_id(const std::string& dir) {
  std::string cfg_err;
  std::optional<std::string> cfg =
      platform::read_site_file(join(join(dir, html_dir), site::config_file), &cfg_err, 1 << 20);
  if (!cfg) return "";
  // "orv id: NAME", as the transfer scripts read it.
  std::istringstream lines(*cfg);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("orv id:", 0) != 0) continue;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t at = 7;
    return std::string(word(line, &at));
  }
  return "";
}

std::vector<std::string> known_peer_ids(const std::string& dir) {
  std::string html = join(dir, html_dir);
  std::string self = site_orv_id(dir);
  std::vector<std::string> ids;
  auto add = [&](const std::string& id) {
    if (!plain_id(id) || same_id(id, self)) return;
    for (const std::string& have : ids) {
      if (same_id(have, id)) return;
    }
    ids.push_back(id);
  };
  std::string why;
  std::string table_err;
  if (std::optional<std::string> text =
          platform::read_site_file(join(html, site::site_table_file), &table_err, 1 << 20)) {
    if (std::optional<site::site_table> t = site::site_table::parse(*text, &why)) {
      for (int i = 0; i < t->count(); ++i) add(t->name(i));
    }
  }
  if (std::optional<std::string> map = platform::read_file(join(html, "orv_hosts"))) {
    std::istringstream lines(*map);
    for (std::string line; std::getline(lines, line);) {
      line = line.substr(0, line.find('#'));
      std::istringstream words(line);
      std::string id;
      if (words >> id) add(id);
    }
  }
  return ids;
}

std::string peer_of_file(const std::string& name, const std::vector<std::string>& ids) {
  std::string best;
  for (const std::string& id : ids) {
    if (id.size() > name.size() || id.size() <= best.size()) continue;
    if (!same_id(std::string_view(name).substr(0, id.size()), id)) continue;
    if (name.find_first_not_of("0123456789", id.size()) != std::string::npos) continue;
    best = id;
  }
  if (!best.empty()) return best;
  size_t end = name.find_last_not_of("0123456789");
  return end == std::string::npos ? name : name.substr(0, end + 1);
}

}  // namespace orvsite
