// `orvsite peer`: add, list, remove peers and renew the site's SSH key.
#include "programs/orvsite/peer_command.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "programs/orvsite/exchange_command.h"
#include "programs/orvsite/site_files.h"
#include "text/text.h"

namespace orvsite {
namespace {

constexpr const char* hosts_file = "orv_hosts";
constexpr const char* key_file = "ssh/id_ed25519";
constexpr const char* known_hosts_file = "ssh/known_hosts";
// The receiving half's forced command, in the peer's html directory.
constexpr const char* serve_script = "orv_ssh_serve.sh";

// One line of the host map: id, where ([user@]host[:port]), site directory.
struct host_line {
  std::string text;  // the line as it stands
  std::string id, where, site;
};

bool only(const std::string& s, const char* allowed) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr(allowed, c);
  });
}

std::vector<host_line> read_hosts(const std::string& path) {
  std::vector<host_line> lines;
  std::istringstream in(platform::read_file(path).value_or(""));
  for (std::string text; std::getline(in, text);) {
    host_line l;
    l.text = text;
    std::string data = text.substr(0, text.find('#'));
    std::istringstream fields(data);
    fields >> l.id >> l.where >> l.site;
    lines.push_back(l);
  }
  return lines;
}

// The host as ssh names it in known_hosts: host, or [host]:port.
std::string host_spec(const std::string& where) {
  std::string host = where.substr(where.find('@') == std::string::npos ? 0 : where.find('@') + 1);
  size_t colon = host.rfind(':');
  if (colon == std::string::npos || host.substr(colon + 1) == "22") return host.substr(0, colon);
  // Appended piece by piece: GCC 12 at -O3 warns wrongly (restrict) about
  // a literal joined to a substring.
  std::string spec = "[";
  spec.append(host, 0, colon);
  spec += "]:";
  spec.append(host, colon + 1);
  return spec;
}

// Runs a program; its output, or nothing with the reason on `err`.
std::optional<std::string> run(const std::vector<std::string>& argv, const std::string& what,
                               std::ostream& err) {
  platform::program_result r;
  std::string error_text, why;
  if (!platform::run_command(argv, &r, &error_text, &why)) {
    err << "orvsite peer: " << why << "\n";
    return std::nullopt;
  }
  if (r.status != 0) {
    std::string tail = error_text.substr(0, error_text.find_last_not_of("\n") + 1);
    err << "orvsite peer: " << what << " failed" << (tail.empty() ? "" : ": " + tail) << "\n";
    return std::nullopt;
  }
  return r.out;
}

// The first "SHA256:..." word of a text.
std::string fingerprint_in(const std::string& text) {
  size_t at = text.find("SHA256:");
  if (at == std::string::npos) return "";
  return text.substr(at, text.find_first_of(" \n", at) - at);
}

// Makes the site's key when it has none; false (with the reason) on failure.
bool ensure_key(const std::string& html, const std::string& comment, std::ostream& out,
                std::ostream& err) {
  std::string key = join(html, key_file);
  if (platform::exists(key)) return true;
  std::string ssh_dir = join(html, "ssh");
  if (!platform::is_directory(ssh_dir) && !platform::make_directory(ssh_dir)) {
    err << "orvsite peer: cannot make " << ssh_dir << "\n";
    return false;
  }
  platform::set_mode(ssh_dir, 0700);
  if (!run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", comment, "-f", key},
           "ssh-keygen for " + key, err)) {
    return false;
  }
  out << "made the site's key " << key << "\n";
  return true;
}

// The authorized_keys line for a peer's machine: this site's key may only
// deliver into the peer's site directory, and only from this machine.
std::optional<std::string> authorized_line(const std::string& html, const std::string& peer_site,
                                           const std::string& from, std::ostream& err) {
  std::optional<std::string> pub = platform::read_file(join(html, key_file) + ".pub");
  if (!pub) {
    err << "orvsite peer: cannot read " << join(html, key_file) << ".pub\n";
    return std::nullopt;
  }
  std::string key = pub->substr(0, pub->find_last_not_of("\r\n") + 1);
  return "command=\"" + peer_site + "/html/" + serve_script + " " + peer_site +
         "\",restrict,from=\"" + from + "\" " + key;
}

std::string this_machine(const std::optional<std::string>& from, const std::string& host) {
  if (from) return *from;
  return platform::local_address_towards(host).value_or("THIS-MACHINE'S-ADDRESS");
}

bool is_site(const std::string& dir, const char* command, std::ostream& err) {
  if (platform::exists(join(join(dir, html_dir), "config.txt"))) return true;
  err << "orvsite peer " << command << ": " << dir << " is not a site (no " << join(dir, html_dir)
      << "/config.txt)\n";
  return false;
}

}  // namespace

int peer_add(const peer_options& o, std::istream& in, std::ostream& out, std::ostream& err) {
  if (!is_site(o.dir, "add", err)) return 1;
  std::string html = join(absolute(o.dir), html_dir);
  if (!only(o.name, "_-") || o.name.size() > 20) {
    err << "orvsite peer add: the orv id " << o.name
        << " is not a plain name (letters, digits, _ and -, at most 20)\n";
    return 1;
  }
  if (!only(o.host, "_.-") || (!o.user.empty() && !only(o.user, "_.-"))) {
    err << "orvsite peer add: the host " << o.host << " or user " << o.user
        << " holds a character the transfer scripts do not pass on\n";
    return 1;
  }
  std::string site_dir = o.site.value_or(join(absolute(o.dir) + "/..", o.name));
  if (o.site && (o.site->empty() || (*o.site)[0] != '/' || !only(*o.site, "_.@/+~-"))) {
    err << "orvsite peer add: --site-dir must be an absolute path of letters, digits and"
           " _ . @ / + ~ -, not "
        << *o.site << "\n";
    return 1;
  }
  if (!o.site) {  // the sibling of this site's directory, without "/.."
    std::string parent = absolute(o.dir);
    while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
    parent = parent.substr(0, parent.rfind('/'));
    site_dir = (parent.empty() ? "" : parent) + "/" + o.name;
  }
  std::string hosts = join(html, hosts_file);
  for (const host_line& l : read_hosts(hosts)) {
    if (!l.id.empty() && text::lower(l.id) == text::lower(o.name)) {
      err << "orvsite peer add: " << hosts << " has a line for " << l.id
          << " already (orvsite peer remove first)\n";
      return 1;
    }
  }
  std::optional<std::string> orv_id = configured_orv_id(o.dir);
  if (!ensure_key(html, orv_id.value_or("orv") + "@orv", out, err)) return 1;

  std::string port = std::to_string(o.port);
  std::optional<std::string> scanned =
      run({"ssh-keyscan", "-T", "10", "-p", port, "-t", "ed25519", o.host},
          "ssh-keyscan of " + o.host + " port " + port, err);
  if (!scanned) return 1;
  std::string keys;
  std::istringstream lines(*scanned);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != '#') keys += line + "\n";
  }
  if (keys.empty()) {
    err << "orvsite peer add: " << o.host << " port " << port << " shows no ed25519 host key\n";
    return 1;
  }
  std::string scan_file = join(html, "ssh/.scanned." + std::to_string(platform::process_id()));
  std::string why;
  if (!platform::replace_file(scan_file, keys, &why, false)) {
    err << "orvsite peer add: " << why << "\n";
    return 1;
  }
  std::optional<std::string> listed = run({"ssh-keygen", "-lf", scan_file}, "ssh-keygen -lf", err);
  platform::remove_file(scan_file);
  std::string fingerprint = listed ? fingerprint_in(*listed) : "";
  if (fingerprint.empty()) return 1;

  out << o.host << " port " << port << " shows the host key " << fingerprint << " (ED25519)\n";
  if (o.fingerprint) {
    if (*o.fingerprint != fingerprint) {
      err << "orvsite peer add: the host key of " << o.host << " is " << fingerprint
          << ", not " << *o.fingerprint << ": nothing added\n";
      return 1;
    }
  } else if (!o.yes) {
    out << "Compare it with what the other machine shows for\n"
           "  ssh-keygen -lf /etc/ssh/ssh_host_ed25519_key.pub\n"
           "Is it the same? [y/N] ";
    out.flush();
    std::string answer;
    std::getline(in, answer);
    if (answer != "y" && answer != "Y" && answer != "yes") {
      err << "orvsite peer add: not confirmed: nothing added\n";
      return 1;
    }
  }

  std::string known = join(html, known_hosts_file);
  std::string had = platform::read_file(known).value_or("");
  std::string add;
  std::istringstream key_lines(keys);
  for (std::string line; std::getline(key_lines, line);) {
    if (("\n" + had).find("\n" + line + "\n") == std::string::npos) add += line + "\n";
  }
  std::string where = (o.user.empty() ? "" : o.user + "@") + o.host + (o.port == 22 ? "" : ":" + port);
  std::string entry = o.name + "  " + where + "  " + site_dir + "\n";
  if (!platform::exists(hosts)) entry = "# orv id   [user@]host[:port]   site directory   [key]\n" + entry;
  if ((!add.empty() && !platform::append_file(known, add, &why)) ||
      !platform::append_file(hosts, entry, &why)) {
    err << "orvsite peer add: " << why << "\n";
    return 1;
  }
  std::optional<std::string> line =
      authorized_line(html, site_dir, this_machine(o.from, o.host), err);
  if (!line) return 1;
  out << "added " << o.name << " (" << where << ", " << site_dir << ") to " << hosts << "\n"
      << "On " << o.host << ", add this line to the authorized_keys of the account that runs "
      << site_dir << " (it may only deliver messages, from this machine):\n"
      << *line << "\n";
  return 0;
}

int peer_list(const std::string& dir, std::ostream& out, std::ostream& err) {
  if (!is_site(dir, "list", err)) return 1;
  std::string html = join(absolute(dir), html_dir);
  std::string known = join(html, known_hosts_file);
  for (const host_line& l : read_hosts(join(html, hosts_file))) {
    if (l.id.empty()) continue;
    std::string fingerprint;
    if (platform::exists(known)) {
      platform::program_result r;
      std::string error_text, why;
      if (platform::run_command({"ssh-keygen", "-l", "-F", host_spec(l.where), "-f", known}, &r,
                                &error_text, &why)) {
        fingerprint = fingerprint_in(r.out);
      }
    }
    out << l.id << "  " << l.where << "  " << (l.site.empty() ? "(no site directory)" : l.site)
        << "  " << (fingerprint.empty() ? "no host key in ssh/known_hosts" : fingerprint) << "\n";
  }
  return 0;
}

int peer_remove(const std::string& dir, const std::string& name, std::ostream& out,
                std::ostream& err) {
  if (!is_site(dir, "remove", err)) return 1;
  std::string html = join(absolute(dir), html_dir);
  std::string hosts = join(html, hosts_file);
  std::string kept;
  std::string spec;
  bool found = false;
  std::vector<std::string> other_specs;
  for (const host_line& l : read_hosts(hosts)) {
    if (!l.id.empty() && text::lower(l.id) == text::lower(name)) {
      found = true;
      spec = host_spec(l.where);
      continue;
    }
    if (!l.id.empty()) other_specs.push_back(host_spec(l.where));
    kept += l.text + "\n";
  }
  if (!found) {
    err << "orvsite peer remove: " << hosts << " has no line for " << name << "\n";
    return 1;
  }
  std::string why;
  if (!platform::replace_file(hosts, kept, &why)) {
    err << "orvsite peer remove: " << why << "\n";
    return 1;
  }
  out << "removed " << name << " from " << hosts << "\n";
  std::string known = join(html, known_hosts_file);
  if (std::find(other_specs.begin(), other_specs.end(), spec) == other_specs.end() &&
      platform::exists(known)) {
    std::string left;
    std::istringstream in(platform::read_file(known).value_or(""));
    int dropped = 0;
    for (std::string line; std::getline(in, line);) {
      // Built by appending: GCC 12 at -O3 warns wrongly (restrict) about a
      // literal joined to a substring.
      std::string hosts_field = ",";
      hosts_field.append(line, 0, line.find(' '));
      hosts_field += ",";
      if (hosts_field.find("," + spec + ",") != std::string::npos) {
        ++dropped;
        continue;
      }
      left += line + "\n";
    }
    if (dropped > 0) {
      if (!platform::replace_file(known, left, &why)) {
        err << "orvsite peer remove: " << why << "\n";
        return 1;
      }
      out << "removed the host key of " << spec << " from " << known << "\n";
    }
  }
  out << "On the peer's machine, remove the authorized_keys line of this site's key as well.\n";
  return 0;
}

int peer_rotate_key(const std::string& dir, const std::optional<std::string>& from,
                    std::ostream& out, std::ostream& err) {
  if (!is_site(dir, "rotate-key", err)) return 1;
  std::string html = join(absolute(dir), html_dir);
  std::string key = join(html, key_file);
  std::string fresh = key + ".new";
  platform::remove_file(fresh);
  platform::remove_file(fresh + ".pub");
  std::optional<std::string> orv_id = configured_orv_id(dir);
  if (!platform::is_directory(join(html, "ssh"))) {
    platform::make_directory(join(html, "ssh"));
    platform::set_mode(join(html, "ssh"), 0700);
  }
  if (!run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", orv_id.value_or("orv") + "@orv",
            "-f", fresh},
           "ssh-keygen for " + fresh, err)) {
    return 1;
  }
  // The old key stays beside the new one until the peers have the new line.
  platform::remove_file(key + ".old");
  platform::remove_file(key + ".old.pub");
  if (platform::exists(key) && (!platform::move_file_exclusive(key, key + ".old") ||
                                 !platform::move_file_exclusive(key + ".pub", key + ".old.pub"))) {
    err << "orvsite peer rotate-key: cannot set the old key " << key << " aside\n";
    return 1;
  }
  if (!platform::move_file_exclusive(fresh, key) ||
      !platform::move_file_exclusive(fresh + ".pub", key + ".pub")) {
    err << "orvsite peer rotate-key: cannot put the new key in place of " << key << "\n";
    return 1;
  }
  std::optional<std::string> listed = run({"ssh-keygen", "-lf", key + ".pub"}, "ssh-keygen -lf", err);
  out << "new key " << key << " " << (listed ? fingerprint_in(*listed) : "") << " (the old one is "
      << key << ".old)\n"
      << "Until each peer's machine has its new line in place of the old one, files for it wait"
         " in outbox.\n";
  for (const host_line& l : read_hosts(join(html, hosts_file))) {
    if (l.id.empty() || l.site.empty()) continue;
    std::string host = host_spec(l.where);
    if (host[0] == '[') host = host.substr(1, host.find(']') - 1);
    std::optional<std::string> line = authorized_line(html, l.site, this_machine(from, host), err);
    if (!line) return 1;
    out << l.id << " (" << l.where << "):\n" << *line << "\n";
  }
  return 0;
}

}  // namespace orvsite
