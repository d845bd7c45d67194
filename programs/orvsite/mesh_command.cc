// `orvsite mesh add` and `orvsite mesh check`.
#include "programs/orvsite/mesh_command.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

#include "platform/platform.h"
#include "programs/orvsite/exchange_command.h"
#include "programs/orvsite/peer_command.h"
#include "programs/orvsite/site_files.h"

namespace orvsite {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool plain(const std::string& s, const char* allowed) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr(allowed, c);
  });
}

// A peer as the host map holds it: id, [user@]host[:port], site directory.
struct peer_line {
  std::string id, user, host, site;
  int port = 22;
};

std::vector<peer_line> host_map(const std::string& html) {
  std::vector<peer_line> peers;
  std::istringstream in(platform::read_file(join(html, "orv_hosts")).value_or(""));
  for (std::string text; std::getline(in, text);) {
    std::istringstream fields(text.substr(0, text.find('#')));
    peer_line p;
    std::string where;
    if (!(fields >> p.id >> where)) continue;
    fields >> p.site;
    size_t at = where.find('@');
    if (at != std::string::npos) p.user = where.substr(0, at);
    p.host = where.substr(at == std::string::npos ? 0 : at + 1);
    size_t colon = p.host.rfind(':');
    if (colon != std::string::npos) {
      std::string port = p.host.substr(colon + 1);
      p.host.resize(colon);
      if (!port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos) {
        p.port = std::stoi(port);
      }
    }
    peers.push_back(p);
  }
  return peers;
}

// The host as known_hosts names it: host, or [host]:port.
std::string known_name(const std::string& host, int port) {
  return port == 22 ? host : "[" + host + "]:" + std::to_string(port);
}

// The first "SHA256:..." word of a text.
std::string fingerprint_of(const std::string& text) {
  size_t at = text.find("SHA256:");
  if (at == std::string::npos) return "";
  return text.substr(at, text.find_first_of(" \n", at) - at);
}

// The last line of a program's error text, for a one-line report.
std::string last_line(const std::string& text) {
  std::string t = text.substr(0, text.find_last_not_of("\r\n") + 1);
  size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

struct ran {
  bool started = false;
  int status = -1;
  std::string out, err;
};

ran run(const std::vector<std::string>& argv) {
  ran r;
  platform::program_result result;
  std::string why;
  r.started = platform::run_command(argv, &result, &r.err, &why);
  if (!r.started) r.err = why;
  r.status = result.status;
  r.out = result.out;
  return r;
}

// The fingerprint of the ed25519 host key that host:port shows now; empty
// with the reason in `why` when it shows none or cannot be reached.
std::string scanned_fingerprint(const std::string& html, const std::string& host, int port,
                                std::string* why) {
  ran scan = run({"ssh-keyscan", "-T", "10", "-p", std::to_string(port), "-t", "ed25519", host});
  std::string keys;
  std::istringstream lines(scan.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != '#') keys += line + "\n";
  }
  if (keys.empty()) {
    *why = "no answer from its sshd" + (last_line(scan.err).empty() ? "" : ": " + last_line(scan.err));
    return "";
  }
  std::string file = join(html, "ssh/.mesh-scan." + std::to_string(platform::process_id()));
  if (!platform::replace_file(file, keys, why, false)) return "";
  ran listed = run({"ssh-keygen", "-lf", file});
  platform::remove_file(file);
  std::string fingerprint = fingerprint_of(listed.out);
  if (fingerprint.empty()) *why = "ssh-keygen cannot read its host key";
  return fingerprint;
}

// ssh as the site's key, trusting only the host keys of known_hosts.
std::vector<std::string> site_ssh(const std::string& html, const peer_line& p,
                                  const std::string& command) {
  return {"ssh", "-F", "/dev/null", "-p", std::to_string(p.port), "-i",
          join(html, "ssh/id_ed25519"), "-o", "BatchMode=yes", "-o", "IdentitiesOnly=yes",
          "-o", "StrictHostKeyChecking=yes", "-o",
          "UserKnownHostsFile=" + join(html, "ssh/known_hosts"), "-o", "ConnectTimeout=10",
          (p.user.empty() ? "" : p.user + "@") + p.host, command};
}

std::string shell_quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Puts `line` into the authorized_keys file of the peer's account (once),
// logging in with the operator's key; the reason in `why` when it cannot.
bool install_line(const std::string& html, const roster_entry& e, const std::string& key,
                  const std::string& file, const std::string& line, std::string* why) {
  std::string dir = file.find('/') == std::string::npos ? "." : file.substr(0, file.rfind('/'));
  std::string script = "umask 077 && mkdir -p " + shell_quoted(dir) + " && touch " +
                       shell_quoted(file) + " && { grep -qxF " + shell_quoted(line) + " " +
                       shell_quoted(file) + " || printf '%s\\n' " + shell_quoted(line) + " >>" +
                       shell_quoted(file) + "; }";
  ran r = run({"ssh", "-F", "/dev/null", "-p", std::to_string(e.port), "-i", key, "-o",
               "BatchMode=yes", "-o", "IdentitiesOnly=yes", "-o", "StrictHostKeyChecking=yes",
               "-o", "UserKnownHostsFile=" + join(html, "ssh/known_hosts"), "-o",
               "ConnectTimeout=10", e.user + "@" + e.host, script});
  if (r.started && r.status == 0) return true;
  *why = last_line(r.err).empty() ? "ssh ended with status " + std::to_string(r.status)
                                  : last_line(r.err);
  return false;
}

}  // namespace

std::optional<std::vector<roster_entry>> read_roster(const std::string& path, std::ostream& err) {
  std::optional<std::string> text = platform::read_file(path);
  if (!text) {
    err << "orvsite mesh: cannot read the roster " << path << "\n";
    return std::nullopt;
  }
  std::vector<roster_entry> entries;
  std::set<std::string> ids;
  bool good = true;
  std::istringstream in(*text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::istringstream fields(line.substr(0, line.find('#')));
    std::vector<std::string> w;
    for (std::string word; fields >> word;) w.push_back(word);
    if (w.empty()) continue;
    auto bad = [&](const std::string& what) {
      err << path << ":" << number << ": " << what << "\n";
      good = false;
    };
    if (w.size() != 7) {
      bad("a roster line has 7 words (site, orv id, host, port, user, site directory,"
          " host key fingerprint), not " + std::to_string(w.size()));
      continue;
    }
    roster_entry e;
    e.site = w[0];
    e.orv_id = w[1];
    e.host = w[2];
    e.user = w[4];
    e.site_dir = w[5];
    e.fingerprint = w[6];
    e.line = number;
    if (!plain(e.orv_id, "_-") || e.orv_id.size() > 20) {
      bad("the orv id " + e.orv_id + " is not a plain name (letters, digits, _ and -, at most 20)");
    } else if (!plain(e.host, "_.-") || !plain(e.user, "_.-")) {
      bad("the host " + e.host + " or user " + e.user + " holds a character the transfer"
          " scripts do not pass on");
    } else if (w[3].size() > 5 || w[3].find_first_not_of("0123456789") != std::string::npos ||
               std::stoi(w[3]) < 1 || std::stoi(w[3]) > 65535) {
      bad("the port " + w[3] + " is not a port number");
    } else if (e.site_dir[0] != '/' || !plain(e.site_dir, "_.@/+~-")) {
      bad("the site directory " + e.site_dir + " is not an absolute path of letters, digits"
          " and _ . @ / + ~ -");
    } else if (e.fingerprint.rfind("SHA256:", 0) != 0 || e.fingerprint.size() < 8) {
      bad("the fingerprint " + e.fingerprint + " is not SHA256:... (ssh-keygen -lf"
          " /etc/ssh/ssh_host_ed25519_key.pub on that machine shows it)");
    } else if (!ids.insert(lower(e.orv_id)).second) {
      bad("the orv id " + e.orv_id + " is in the roster twice");
    } else {
      e.port = std::stoi(w[3]);
      entries.push_back(e);
    }
  }
  if (!good) return std::nullopt;
  return entries;
}

int mesh_add(const mesh_options& o, std::ostream& out, std::ostream& err) {
  std::string html = join(absolute(o.dir), html_dir);
  if (!platform::exists(join(html, "config.txt"))) {
    err << "orvsite mesh add: " << o.dir << " is not a site (no " << html << "/config.txt)\n";
    return 1;
  }
  std::optional<std::vector<roster_entry>> roster = read_roster(o.roster, err);
  if (!roster) return 1;
  std::optional<std::string> me = configured_orv_id(o.dir);
  if (!me || std::none_of(roster->begin(), roster->end(), [&](const roster_entry& e) {
        return lower(e.orv_id) == lower(*me);
      })) {
    err << "orvsite mesh add: the roster " << o.roster << " has no line for this site's orv id "
        << me.value_or("(none in config.txt)") << "\n";
    return 1;
  }
  std::set<std::string> peers;
  for (const peer_line& p : host_map(html)) peers.insert(lower(p.id));
  int failed = 0, added = 0, kept = 0;
  for (const roster_entry& e : *roster) {
    if (lower(e.orv_id) == lower(*me)) continue;
    if (peers.count(lower(e.orv_id))) {
      out << e.orv_id << ": a peer already (orvsite mesh check verifies it)\n";
      ++kept;
      continue;
    }
    peer_options p;
    p.dir = o.dir;
    p.name = e.orv_id;
    p.host = e.host;
    p.port = e.port;
    p.user = e.user;
    p.site = e.site_dir;
    p.from = o.from;
    p.fingerprint = e.fingerprint;
    std::istringstream no_answers;
    std::ostringstream said, complaint;
    if (peer_add(p, no_answers, said, complaint) != 0) {
      out << e.orv_id << ": NOT ADDED: " << last_line(complaint.str()) << "\n";
      ++failed;
      continue;
    }
    ++added;
    std::string line = last_line(said.str());
    std::string why;
    std::string keys_file = o.authorized_keys;
    for (size_t at; (at = keys_file.find("%o")) != std::string::npos;) {
      keys_file.replace(at, 2, e.orv_id);
    }
    if (o.install_key && install_line(html, e, *o.install_key, keys_file, line, &why)) {
      out << e.orv_id << ": added (" << e.user << "@" << e.host << ":" << e.port << ", "
          << e.site_dir << ", host key " << e.fingerprint << "); its authorized_keys has the"
          << " forced command now\n";
      continue;
    }
    out << e.orv_id << ": added (" << e.user << "@" << e.host << ":" << e.port << ", "
        << e.site_dir << ", host key " << e.fingerprint << ")";
    if (o.install_key) out << "; not installed there (" << why << ")";
    out << "; on " << e.host << " add to the authorized_keys of " << e.user << ":\n"
        << line << "\n";
  }
  out << "mesh add: " << added << " added, " << kept << " a peer already, " << failed
      << " not added\n";
  return failed == 0 ? 0 : 1;
}

int mesh_check(const std::string& dir, const std::optional<std::string>& roster_file,
               std::ostream& out, std::ostream& err) {
  std::string html = join(absolute(dir), html_dir);
  if (!platform::exists(join(html, "config.txt"))) {
    err << "orvsite mesh check: " << dir << " is not a site (no " << html << "/config.txt)\n";
    return 1;
  }
  std::vector<roster_entry> roster;
  if (roster_file) {
    std::optional<std::vector<roster_entry>> r = read_roster(*roster_file, err);
    if (!r) return 1;
    roster = *r;
  }
  std::optional<std::string> me = configured_orv_id(dir);
  std::vector<peer_line> peers = host_map(html);
  int troubles = 0, good = 0;
  for (const roster_entry& e : roster) {
    if (me && lower(e.orv_id) == lower(*me)) continue;
    if (std::none_of(peers.begin(), peers.end(),
                     [&](const peer_line& p) { return lower(p.id) == lower(e.orv_id); })) {
      out << e.orv_id << ": NOT A PEER: in the roster but not in orv_hosts (orvsite mesh add)\n";
      ++troubles;
    }
  }
  std::string known = join(html, "ssh/known_hosts");
  for (const peer_line& p : peers) {
    std::string where = (p.user.empty() ? "" : p.user + "@") + p.host + ":" + std::to_string(p.port);
    ran listed = run({"ssh-keygen", "-l", "-F", known_name(p.host, p.port), "-f", known});
    std::string pinned = fingerprint_of(listed.out);
    auto in_roster = std::find_if(roster.begin(), roster.end(),
                                  [&](const roster_entry& e) { return lower(e.orv_id) == lower(p.id); });
    std::string why;
    std::string shown = scanned_fingerprint(html, p.host, p.port, &why);
    std::string trouble;
    if (shown.empty()) {
      trouble = "UNREACHABLE (" + where + "): " + why;
    } else if (pinned.empty()) {
      trouble = "NO HOST KEY in ssh/known_hosts for " + known_name(p.host, p.port) + " (it shows " +
                shown + ")";
    } else if (shown != pinned) {
      trouble = "HOST KEY CHANGED: " + where + " shows " + shown + ", ssh/known_hosts holds " + pinned;
    } else if (in_roster != roster.end() && in_roster->fingerprint != pinned) {
      trouble = "HOST KEY NOT THE ROSTER'S: ssh/known_hosts holds " + pinned + ", the roster " +
                in_roster->fingerprint;
    } else {
      ran login = run(site_ssh(html, p, "true"));
      if (!login.started || login.status != 0) {
        trouble = "LOGIN REFUSED (" + where + "): " +
                  (last_line(login.err).empty() ? "ssh ended with status " + std::to_string(login.status)
                                                : last_line(login.err)) +
                  " (is the forced command line in its authorized_keys?)";
      } else {
        // Only the forced command may run: any other command is refused.
        ran other = run(site_ssh(html, p, "id"));
        if (other.status == 0 || other.err.find("refused") == std::string::npos) {
          trouble = "NO FORCED COMMAND: the site's key may run any command on " + where;
        }
      }
    }
    if (!trouble.empty()) {
      out << p.id << ": " << trouble << "\n";
      ++troubles;
    } else {
      out << p.id << ": in order (" << where << ", host key " << pinned
          << ", forced command in place)\n";
      ++good;
    }
  }
  out << "mesh check: " << peers.size() << " peer" << (peers.size() == 1 ? "" : "s") << ", " << good
      << " in order, " << troubles << " trouble" << (troubles == 1 ? "" : "s") << "\n";
  return troubles == 0 ? 0 : 1;
}

}  // namespace orvsite
