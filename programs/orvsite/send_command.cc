// `orvsite send`: the put script's delivery over SSH, compiled. Every
// refusal, ssh option and report is the script's (samples/site/ssh/
// orv_ftp_put.cmd, whose comments describe the exchange); what differs is
// the count of processes: this one and an ssh per peer (and an rsync and a
// second ssh for a peer of an earlier version, an `ssh -O exit` to close a
// connection), where the script starts some twenty helpers per send.
#include "programs/orvsite/send_command.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "exchange/exchange.h"
#include "platform/platform.h"
#include "programs/orvsite/carrier.h"
#include "programs/orvsite/delivery.h"
#include "text/text.h"

namespace orvsite {
namespace {

// The work directory of a run is this prefix and the run's process id.
constexpr const char* work_prefix = ".outbox-sending.";
// A socket's path has a limit of about 100 characters, ssh's suffix
// included: a kept socket's directory and the peer's id fit in this many.
constexpr size_t kept_socket_most = 88;
// A delivery's header holds the transfer id and the size in 255 bytes: the
// orv id, the name and this much more (dots, hash, size) fit in 200.
constexpr size_t name_room = 200 - 34;

// One line of the host map: orv id, [user@]host[:port], site directory and
// key (the rest of the line), split as the shell's `read` splits them.
struct map_line {
  std::string id, where, dir, key;
};

std::string_view next_word(std::string_view line, size_t* at) {
  while (*at < line.size() && text::is_blank(line[*at])) ++*at;
  size_t start = *at;
  while (*at < line.size() && !text::is_blank(line[*at])) ++*at;
  return line.substr(start, *at - start);
}

// The lines of the map that are not blank once a carriage return at the
// end and the text after "#" are gone.
std::vector<map_line> read_map(const std::string& text) {
  std::vector<map_line> lines;
  for (std::string_view line : shell_lines(text)) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = line.substr(0, line.find('#'));
    size_t at = 0;
    map_line l;
    l.id = next_word(line, &at);
    if (l.id.empty()) continue;
    l.where = next_word(line, &at);
    l.dir = next_word(line, &at);
    while (at < line.size() && text::is_blank(line[at])) ++at;
    std::string_view rest = line.substr(at);
    while (!rest.empty() && text::is_blank(rest.back())) rest.remove_suffix(1);
    l.key = rest;
    lines.push_back(std::move(l));
  }
  return lines;
}

bool only_of(std::string_view s, const char* others) {
  return std::all_of(s.begin(), s.end(), [&](char c) {
    return text::is_alnum(c) || (c != '\0' && std::strchr(others, c));
  });
}

// The reports of a run, on standard error. Peers are served at once: each
// line, or a block of lines of one report, goes out whole.
class reporter {
 public:
  explicit reporter(std::ostream& err) : err_(err) {}
  // One line "orv_ftp_put.cmd: TEXT".
  void say(const std::string& line) { write(said(line)); }
  static std::string said(const std::string& line) {
    return std::string(put_script_name) + ": " + line + "\n";
  }
  void write(const std::string& lines) {
    std::lock_guard<std::mutex> hold(mutex_);
    err_ << lines;
    err_.flush();
  }

 private:
  std::ostream& err_;
  std::mutex mutex_;
};

// What one run shares with the sends to its peers.
struct run_state {
  std::string html, map, known_hosts, self, work;
  std::string keep;     // the kept sockets' directory; empty: none kept
  std::string persist;  // ControlPersist of a kept connection
  std::string control;  // the directory of this run's sockets, when made
  std::string carrier;  // the socket of the watch's kept sessions, if any
  reporter* report = nullptr;
};

// One peer's send: its map line and the transfer ids of its files, sorted.
struct peer_send {
  map_line line;
  std::vector<std::string> tids;
};

// The names of the files still waiting for `peer`, each followed by a space.
std::string waiting(const run_state& run, const std::string& peer) {
  std::string list;
  std::string prefix = run.self + ".";
  for (const std::string& tid : platform::list_entries(run.work + "/" + peer).value_or(
           std::vector<std::string>{})) {
    if (tid.front() == '.') continue;
    std::string name = tid;
    size_t dot = tid.rfind('.');
    if (tid.rfind(prefix, 0) == 0 && dot != std::string::npos && dot >= prefix.size() &&
        std::all_of(tid.begin() + static_cast<std::ptrdiff_t>(dot) + 1, tid.end(),
                    [](char c) { return text::is_digit(c) || (c >= 'a' && c <= 'f'); })) {
      name = tid.substr(prefix.size(), dot - prefix.size());
    }
    list += name + " ";
  }
  return list;
}

// A report of a failed step: its first line, what ssh or rsync said, and
// the files that wait.
std::string failure_report(const run_state& run, const std::string& peer, const std::string& first) {
  std::string error = platform::read_file(run.work + "/error." + peer).value_or("");
  return reporter::said(first) + error_report(error) +
         reporter::said("waiting in outbox for " + peer + ": " + waiting(run, peer));
}

// True when `a` was modified after `b` (both must exist), as `test -nt`.
bool newer(const std::string& a, const std::string& b) {
  std::optional<platform::file_info> x = platform::stat_file(a, true), y = platform::stat_file(b, true);
  if (!x || !y) return false;
  return x->mtime_sec != y->mtime_sec ? x->mtime_sec > y->mtime_sec : x->mtime_nsec > y->mtime_nsec;
}

// Runs `argv` in `dir` with standard input from `in` (empty: none),
// standard output captured when `capture` (else discarded) and standard
// error into `err_file` (empty: discarded). The exit status with the
// output; a program that cannot be started ends as a shell tells it, with
// status 127 and the reason in `err_file`.
platform::spawn_result execute(const std::vector<std::string>& argv, const std::string& dir,
                           const std::string& in, bool capture, const std::string& err_file) {
  platform::spawn_options o;
  o.argv = argv;
  o.dir = dir;
  if (!in.empty()) {
    o.in = platform::input_mode::file;
    o.in_file = in;
  }
  o.out = capture ? platform::output_mode::capture : platform::output_mode::null;
  o.err = err_file.empty() ? platform::output_mode::null : platform::output_mode::file;
  o.err_file = err_file;
  std::string why;
  std::optional<platform::spawn_result> r = platform::spawn(o, &why);
  if (r) return std::move(*r);
  platform::spawn_result failed;
  failed.status = 127;
  std::string ignored;
  if (!err_file.empty()) platform::replace_file(err_file, why + "\n", &ignored, false);
  return failed;
}

// Sends the files of one peer; false when one stays in outbox.
bool send_to(const run_state& run, const peer_send& p) {
  const std::string& peer = p.line.id;
  const std::string& where = p.line.where;
  const std::string& dir = p.line.dir;
  std::string key = p.line.key.empty() ? "ssh/id_ed25519" : p.line.key;
  std::string host = where, port = "22";
  if (size_t colon = where.rfind(':'); colon != std::string::npos) {
    port = where.substr(colon + 1);
    host = where.substr(0, colon);
  }
  if (key.front() != '/') key = run.html + "/" + key;
  if (!text::all_digits(port)) {
    run.report->say("orv_hosts: '" + where + "' of " + peer +
                    " has no port number; waiting: " + waiting(run, peer));
    return false;
  }
  if (!only_of(host + dir + key + run.html, "_.@/+~-")) {
    run.report->say("orv_hosts: the line of " + peer + ", or " + run.html +
                    ", holds a character the scripts do not pass on (only letters, digits and"
                    " _ . @ / + ~ -); waiting: " + waiting(run, peer));
    return false;
  }
  if (!platform::may_read(key) || !platform::may_read(run.known_hosts)) {
    run.report->say("no key " + key + " or no " + run.known_hosts + " for " + peer +
                    "; waiting: " + waiting(run, peer));
    return false;
  }
  std::vector<std::string> ssh = {"ssh", "-F", "/dev/null", "-p", port, "-i", key,
                                  "-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes",
                                  "-o", "StrictHostKeyChecking=yes",
                                  "-o", "UserKnownHostsFile=" + run.known_hosts,
                                  "-o", "GlobalKnownHostsFile=/dev/null", "-o", "UpdateHostKeys=no",
                                  "-o", "ConnectTimeout=20", "-o", "ServerAliveInterval=15",
                                  "-o", "ServerAliveCountMax=4", "-o", "LogLevel=ERROR"};
  auto with = [&](std::initializer_list<std::string> more) {
    std::vector<std::string> argv = ssh;
    argv.insert(argv.end(), more);
    return argv;
  };
  // The sessions of a send share one connection, its ssh in the background
  // as their master: kept open for the next sends, or ended after this one
  // (or by itself 10 seconds after a killed run). Its socket is named after
  // the peer, not the host: two peers on one host and account are sent to
  // at once, each over its own connection.
  bool close = false;
  if (!run.keep.empty() && run.keep.size() + peer.size() <= kept_socket_most) {
    std::string socket = run.keep + "/" + peer;
    ssh.insert(ssh.end(), {"-o", "ControlMaster=auto", "-o", "ControlPath=" + socket, "-o",
                           "ControlPersist=" + run.persist});
    // A connection opened before the map, the key or the known host keys
    // last changed is not used: it may lead elsewhere, or by a key or to a
    // host that is no longer trusted.
    std::optional<platform::file_info> s = platform::stat_file(socket, true);
    if (s && s->kind == platform::entry_kind::socket) {
      for (const std::string& f : {run.map, key, run.known_hosts}) {
        if (!newer(socket, f)) {
          execute(with({"-O", "exit", host}), run.html, "", false, "");
          break;
        }
      }
    }
  } else {
    ssh.insert(ssh.end(), {"-o", "ControlMaster=auto", "-o", "ControlPath=" + run.control + "/" + peer,
                           "-o", "ControlPersist=10"});
    close = true;
  }

  const std::string files = run.work + "/" + peer;
  const std::string error_file = run.work + "/error." + peer;
  // The delivery in one session, which answers one line per transfer id:
  // before each file a header of 256 bytes.
  std::string delivery;
  for (const std::string& tid : p.tids) {
    std::string content = platform::read_file(files + "/" + tid).value_or("");
    delivery += format_delivery_header(tid, static_cast<std::int64_t>(content.size()));
    delivery += content;
  }
  // Under `orvsite watch`, the session the watch keeps open to the peer
  // carries it, when it can.
  std::optional<std::string> carried;
  if (!close && !run.carrier.empty()) {
    carried = carry(run.carrier, with({host, std::string(batches_command) + dir + "/html"}), delivery);
  }
  // A session opened ahead of the first delivery (no files): nothing more.
  if (p.tids.empty()) return carried.has_value();
  std::string answer;
  if (carried) {
    answer = std::move(*carried);
  } else {
    const std::string delivery_file = run.work + "/.delivery." + peer;
    std::string why;
    if (!platform::append_file(delivery_file, delivery, &why)) {
      platform::replace_file(error_file, why + "\n", &why, false);
      run.report->write(failure_report(run, peer, "cannot reach " + peer + " at " + where + ":"));
      return false;
    }
    delivery.clear();
    platform::spawn_result r =
        execute(with({host, "orv-deliver " + dir + "/html"}), run.html, delivery_file, true, error_file);
    platform::remove_file(delivery_file);
    if (platform::stop_requested()) return false;
    if (r.status == 255) {
      run.report->write(failure_report(run, peer, "cannot reach " + peer + " at " + where + ":"));
      return false;
    }
    answer = std::move(r.out);
  }
  // Or, to a peer that does not know it (its forced command refuses it, or
  // there is none and the login shell has no such command), the copy into
  // the staging directory beside its inbox and the link-in.
  if (answer.find_first_not_of('\n') == std::string::npos &&
      platform::read_file(error_file).value_or("").find("orv-deliver") != std::string::npos) {
    std::string joined;
    for (const std::string& a : ssh) joined += (joined.empty() ? "" : " ") + a;
    std::vector<std::string> rsync = {"rsync", "-t", "--timeout=120", "-e", joined, "--"};
    rsync.insert(rsync.end(), p.tids.begin(), p.tids.end());
    rsync.push_back(host + ":" + dir + "/html/.inbox-staging/");
    if (execute(rsync, files, "", false, error_file).status != 0) {
      if (platform::stop_requested()) return false;
      run.report->write(failure_report(run, peer, "cannot reach " + peer + " at " + where + ":"));
      return false;
    }
    std::string ids;
    for (const std::string& tid : p.tids) ids += tid + " ";
    answer = execute(with({host, "sh -s -- " + dir + "/html " + ids}), run.html,
                 run.html + "/orv_ssh_link.sh", true, error_file)
                 .out;
    if (platform::stop_requested()) return false;
  }
  if (close) execute(with({"-O", "exit", host}), run.html, "", false, "");

  // Only the file that was sent leaves outbox: a file written since under
  // the same name is another message.
  std::set<std::string> own(p.tids.begin(), p.tids.end());
  std::vector<std::string> gone;
  std::string prefix = run.self + ".";
  for (std::string_view line : shell_lines(answer)) {
    size_t at = 0;
    std::string what(next_word(line, &at));
    std::string tid(next_word(line, &at));
    while (at < line.size() && text::is_blank(line[at])) ++at;
    std::string_view dest = line.substr(at);
    while (!dest.empty() && text::is_blank(dest.back())) dest.remove_suffix(1);
    if (!own.count(tid)) continue;
    std::optional<platform::file_info> k = platform::stat_file(files + "/" + tid, true);
    if (!k || k->kind != platform::entry_kind::file) continue;
    std::string name = tid.rfind(prefix, 0) == 0 ? tid.substr(prefix.size()) : tid;
    if (size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
    if (what == "linked" || what == "known") {
      std::string outbox_file = run.html + "/outbox/" + name;
      std::optional<std::string> sent = platform::file_identity(files + "/" + tid);
      if (sent && sent == platform::file_identity(outbox_file)) gone.push_back(outbox_file);
      gone.push_back(files + "/" + tid);
      if (what == "linked") run.report->say("sent " + name + " to " + peer + " (inbox/" + std::string(dest) + ")");
    } else {
      run.report->say(peer + " refused " + name + " (" + what +
                      (dest.empty() ? "" : ": " + std::string(dest)) + ")");
    }
  }
  for (const std::string& path : gone) platform::remove_file(path);
  for (const std::string& left : platform::list_entries(files).value_or(std::vector<std::string>{})) {
    if (left.front() == '.') continue;
    run.report->write(failure_report(run, peer, "no confirmation from " + peer + ":"));
    return false;
  }
  return true;
}

// Removes the work directories of runs that were killed: their process is
// gone.
void remove_dead_runs(const std::string& html) {
  std::string prefix = work_prefix;
  for (const std::string& name :
       platform::list_entries(html).value_or(std::vector<std::string>{})) {
    if (name.rfind(prefix, 0) != 0) continue;
    std::string path = html + "/" + name;
    std::optional<platform::file_info> k = platform::stat_file(path, true);
    if (!k || k->kind != platform::entry_kind::directory) continue;
    std::string pid = name.substr(name.rfind('.') + 1);
    if (text::all_digits(pid) && pid.size() <= 18 && platform::process_exists(std::stoll(pid))) continue;
    platform::remove_tree(path);
  }
}

// Serves `sends`, ORV_SEND_PARALLEL peers at a time (8 by default): each
// peer's logins wait on the network and on the peer more than on this
// machine. False when a file stays in outbox.
bool send_all(const run_state& run, const std::vector<peer_send>& sends) {
  std::string parallel_text = platform::environment("ORV_SEND_PARALLEL").value_or("8");
  size_t parallel = 1;
  if (text::all_digits(parallel_text)) {
    parallel = parallel_text.size() > 3 ? 64
                                        : std::clamp<size_t>(std::stoul(parallel_text), 1, 64);
  }
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  auto serve = [&] {
    for (size_t i; (i = next++) < sends.size();) {
      if (!send_to(run, sends[i])) failed = true;
    }
  };
  std::vector<std::thread> workers;
  for (size_t i = 1; i < std::min(parallel, sends.size()); ++i) workers.emplace_back(serve);
  serve();
  for (std::thread& t : workers) t.join();
  return !failed;
}

}  // namespace

std::string kept_sockets(const std::string& html) {
  std::optional<platform::file_info> ssh = platform::stat_file(html + "/ssh", true);
  if (!ssh || ssh->kind != platform::entry_kind::directory || !ssh->owned) return "";
  std::string keep = html + "/ssh/control";
  std::optional<platform::file_info> k = platform::stat_file(keep, true);
  if (!k || k->kind != platform::entry_kind::directory) {
    if (!platform::make_directory(keep) || !platform::set_mode(keep, 0700)) return "";
  }
  std::optional<platform::entry_access> a = platform::access_of(keep);
  k = platform::stat_file(keep, true);
  if (!a || a->symlink || !k || !k->owned) return "";
  return keep;
}

std::string kept_seconds() {
  std::string persist = platform::environment("ORV_SSH_PERSIST").value_or("");
  return text::all_digits(persist) ? persist : "300";
}

std::string message_peer(std::string_view name, const std::vector<std::string>& ids) {
  std::string lname = text::lower(name);
  std::string best;
  for (const std::string& id : ids) {
    if (id.size() <= best.size() || id.size() > lname.size()) continue;
    if (std::string_view(lname).substr(0, id.size()) != text::lower(id)) continue;
    if (!text::all_digits(std::string_view(lname).substr(id.size()))) continue;
    best = id;
  }
  return best;
}

std::string error_report(std::string_view text) {
  std::string plain;
  for (char c : text) {
    if (c != '\r') plain += c;
  }
  std::vector<std::string_view> lines;
  for (std::string_view line : shell_lines(plain)) {
    if (std::any_of(line.begin(), line.end(), [](char c) { return !text::is_blank(c); })) {
      lines.push_back(line);
    }
  }
  std::string report;
  for (size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i) {
    report += std::string(put_script_name) + ":   " + std::string(lines[i].substr(0, 300)) + "\n";
  }
  return report;
}

int send_command(const std::string& html_given, std::ostream& err) {
  reporter report(err);
  std::string html = html_given.empty() ? "." : html_given;
  while (html.size() > 1 && html.back() == '/') html.pop_back();
  if (html.front() != '/') html = platform::current_directory() + "/" + html;
  run_state run;
  run.html = html;
  run.map = html + "/orv_hosts";
  run.known_hosts = html + "/ssh/known_hosts";
  run.report = &report;

  std::optional<platform::file_info> map_kind = platform::stat_file(run.map, true);
  if (!map_kind || map_kind->kind != platform::entry_kind::file) {
    report.say("no host map " + run.map + ": every file stays in outbox");
    return 1;
  }
  run.self = transfer_orv_id(html + "/config.txt");
  std::vector<map_line> lines = read_map(platform::read_file(run.map).value_or(""));
  if (run.self.empty() || !only_of(run.self, "_-")) {
    report.say("config.txt holds no plain orv id ('" + run.self +
               "'): every file stays in outbox");
    return 1;
  }

  // The files of each peer are hard links in a directory of this run, named
  // by their transfer ids. A run that was killed leaves its directory; the
  // next run removes it.
  remove_dead_runs(html);
  run.work = html + "/" + work_prefix + std::to_string(platform::process_id());
  if (platform::exists(run.work) || !platform::make_directory(run.work)) {
    report.say("cannot make the work directory " + run.work);
    return 1;
  }
  auto finish = [&](int status) {
    platform::remove_tree(run.work);
    if (!run.control.empty()) platform::remove_tree(run.control);
    return platform::stop_requested() ? 1 : status;
  };

  int status = 0;
  std::vector<std::string> names;
  const std::string outbox = html + "/outbox";
  for (const std::string& name :
       platform::list_entries(outbox).value_or(std::vector<std::string>{})) {
    if (name.front() == '.') continue;
    std::optional<platform::file_info> k = platform::stat_file(outbox + "/" + name, true);
    if (!k || k->kind != platform::entry_kind::file) continue;
    if (!only_of(name, "_.-")) {
      report.say(name + " is no message file name: it stays in outbox");
      status = 1;
      continue;
    }
    if (run.self.size() + name.size() > name_room) {
      report.say(name + " is too long a name to send: it stays in outbox");
      status = 1;
      continue;
    }
    names.push_back(name);
  }
  std::vector<std::string> ids;
  for (const map_line& l : lines) ids.push_back(l.id);
  std::map<std::string, std::vector<std::string>> files;  // peer -> transfer ids
  for (const std::string& name : names) {
    std::string peer = message_peer(name, ids);
    if (peer.empty()) {
      report.say("no site in orv_hosts for " + name + ": it stays in outbox");
      status = 1;
      continue;
    }
    std::optional<std::string> content = platform::read_file(outbox + "/" + name);
    if (!content) continue;  // gone meanwhile: taken by another send
    std::string tid = run.self + "." + name + "." + exchange::content_hash(*content);
    std::string dir = run.work + "/" + peer;
    if (!platform::is_directory(dir) && !platform::make_directory(dir)) {
      status = 1;
      continue;
    }
    if (int e = platform::link_file(outbox + "/" + name, dir + "/" + tid); e != 0) {
      err << "ln: failed to create hard link '" << dir << "/" << tid << "' => '" << outbox << "/"
          << name << "': " << std::strerror(e) << "\n";
      status = 1;
      continue;
    }
    files[peer].push_back(tid);
  }

  // Connections kept open between sends: ssh/control holds their sockets.
  run.persist = kept_seconds();
  if (run.persist.find_first_not_of('0') != std::string::npos) run.keep = kept_sockets(html);
  run.carrier = platform::environment(carrier_variable).value_or("");

  // The peers in the order of the map; a later line of an id already served
  // is skipped.
  std::vector<peer_send> sends;
  std::set<std::string> served;
  for (const map_line& l : lines) {
    auto f = files.find(l.id);
    if (f == files.end() || !served.insert(l.id).second) continue;
    if (l.dir.empty()) {
      report.say("orv_hosts: the line of " + l.id + " names no site directory; waiting: " +
                 waiting(run, l.id));
      status = 1;
      continue;
    }
    if ((run.keep.empty() || run.keep.size() + l.id.size() > kept_socket_most) &&
        run.control.empty()) {
      std::string tmp = platform::environment("TMPDIR").value_or("");
      std::string why;
      std::optional<std::string> made =
          platform::make_temp_directory((tmp.empty() ? "/tmp" : tmp) + "/orv-ssh.", &why);
      if (!made) {
        err << "mktemp: " << why << "\n";
        return finish(1);
      }
      run.control = *made;
    }
    std::sort(f->second.begin(), f->second.end());
    sends.push_back({l, f->second});
  }

  if (!send_all(run, sends)) status = 1;
  return finish(status);
}

void open_sessions(const std::string& html) {
  std::ostringstream unheard;
  reporter report(unheard);
  run_state run;
  run.html = html;
  run.map = html + "/orv_hosts";
  run.known_hosts = html + "/ssh/known_hosts";
  run.report = &report;
  run.carrier = platform::environment(carrier_variable).value_or("");
  run.persist = kept_seconds();
  if (run.carrier.empty() || run.persist.find_first_not_of('0') == std::string::npos) return;
  run.keep = kept_sockets(html);
  if (run.keep.empty()) return;
  std::vector<peer_send> sends;
  std::set<std::string> served;
  for (map_line& l : read_map(platform::read_file(run.map).value_or(""))) {
    if (l.dir.empty() || run.keep.size() + l.id.size() > kept_socket_most) continue;
    if (served.insert(l.id).second) sends.push_back({std::move(l), {}});
  }
  send_all(run, sends);
}

}  // namespace orvsite
