// `orvsite exchange`: run the manager as a web server would, asking for its
// answers in values, and tell what they say was sent and picked up.
#include "programs/orvsite/exchange_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <streambuf>
#include <thread>
#include <string_view>

#include "exchange/exchange.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "programs/orvsite/carrier.h"
#include "programs/orvsite/exchange_log.h"
#include "programs/orvsite/exchange_record.h"
#include "programs/orvsite/send_command.h"
#include "programs/orvsite/site_files.h"
#include "programs/orvsite/status_command.h"
#include "programs/orvsite/state_command.h"
#include "programs/orvsite/status_troubles.h"
#include "site/answer.h"
#include "site/request.h"
#include "text/text.h"

namespace orvsite {
namespace {

// Today's date (UTC), as the reported-warnings file notes it.
std::string today() {
  return utc_text(platform::now_seconds(), "%Y-%m-%d");
}

// The warnings already reported today, from `file`: lines "DATE<TAB>TEXT".
// Lines of other days, lines that do not read and a file that does not read
// count as nothing reported (the warning then goes out once more).
std::set<std::string> reported_today(const std::string& file, const std::string& day) {
  std::set<std::string> texts;
  std::string why;
  std::optional<std::string> text = platform::read_site_file(file, &why, 1 << 20);
  if (!text) return texts;
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos || line.compare(0, tab, day) != 0) continue;
    texts.insert(line.substr(tab + 1));
  }
  return texts;
}

// Notes `texts` as reported on `day` (only today's are kept; at most 500).
void note_reported(const std::string& file, const std::string& day,
                   const std::set<std::string>& texts) {
  std::string text;
  int n = 0;
  for (const std::string& t : texts) {
    if (++n > 500) break;
    text += day + "\t" + t + "\n";
  }
  platform::replace_file(file, text, nullptr, false);
}

std::string plural(int n, const char* one) {
  return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

// " (east 2, south 1)": how many per site; "" stands for a sender that is
// not known.
std::string by_site(const std::map<std::string, int>& counts) {
  std::string list;
  for (const auto& [site, n] : counts) {
    list += (list.empty() ? " (" : ", ") + (site.empty() ? "unknown sender" : site) + " " +
            std::to_string(n);
  }
  return list.empty() ? list : list + ")";
}

// True when `line` holds `id` as a word of its own (letter case aside).
bool mentions(const std::string& line, const std::string& id) {
  std::string l = text::lower(line), w = text::lower(id);
  auto word_char = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; };
  for (size_t at = l.find(w); at != std::string::npos; at = l.find(w, at + 1)) {
    if ((at == 0 || !word_char(l[at - 1])) &&
        (at + w.size() == l.size() || !word_char(l[at + w.size()]))) {
      return true;
    }
  }
  return false;
}

// Why the files of `peer` stayed: the last two lines the transfer script
// wrote about it, else its last two lines at all.
std::string failure_cause(const std::string& said, const std::string& peer) {
  std::vector<std::string> all, about;
  std::istringstream lines(said);
  for (std::string line; std::getline(lines, line);) {
    if (one_line(line).empty()) continue;
    all.push_back(line);
    if (mentions(line, peer)) about.push_back(line);
  }
  std::vector<std::string>& use = about.empty() ? all : about;
  if (use.empty()) return "the transfer script said nothing; the files stay in outbox";
  std::string cause;
  for (size_t i = use.size() > 2 ? use.size() - 2 : 0; i < use.size(); ++i) {
    cause += (cause.empty() ? "" : " / ") + one_line(use[i]);
  }
  return one_line(cause);
}

// What a request said besides its answer, for the record and the log.
struct run_notes {
  std::string said;     // what the transfer scripts wrote
  std::string failure;  // why it failed, when it did
};

// Where the page of a run goes: kept for the answer (which reads the error
// lines the run wrote), each piece reworded first when a test asks so.
class page_sink : public std::streambuf {
 public:
  explicit page_sink(const page_wording& reword) : reword_(reword) {}
  const std::string& text() const { return text_; }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) text_ += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::string_view piece(s, static_cast<size_t>(n));
    text_ += reword_ ? reword_(piece) : std::string(piece);
    return n;
  }

 private:
  const page_wording& reword_;
  std::string text_;
};

// One request to the site's manager, carried out here on the site `dir`
// and answered in values in `a`; false (with the reason on `err`) when it
// ended with a failure status.
bool request(const std::string& dir, const char* query, const exchange_extras& extras,
             site::answer& a, std::ostream& err, run_notes& notes) {
  page_sink sink(extras.reword_page);
  std::ostream page(&sink);
  formdecode::output out(page);
  a.page_so_far = &sink.text();
  formdecode::request rq;
  rq.request_method = "GET";
  rq.query_string = query;
  std::string said;
  int status = 0;
  bool completed = false;
  try {
    site::run_request(rq, out, a, site::run_context{join(dir, html_dir), &said});
    completed = true;
  } catch (const formdecode::run_exit& e) {
    status = e.status & 0xff;  // as a process would have ended
  }
  out.finish();
  site::finish_answer(a, status, completed);
  a.page_so_far = nullptr;
  // What the transfer scripts said goes on as ever.
  err << said;
  notes.said = std::move(said);
  if (status == 0) return true;
  // The answer tells why (a damaged file, a failed save): its last errors.
  const std::string text = "the site manager ended with status " + std::to_string(status) +
                           " on " + query;
  err << "orvsite exchange: " << dir << ": " << text << "\n";
  std::vector<std::string> lines = a.errors;
  if (lines.size() > 10) lines.erase(lines.begin(), lines.end() - 10);
  for (const std::string& line : lines) err << "  " << line << "\n";
  notes.failure = text + (lines.empty() ? "" : ": " + lines.back());
  return false;
}

// The files of `dir`.
std::set<std::string> files_of(const std::string& dir) {
  std::vector<std::string> names = platform::list_files_oldest_first(dir);
  return {names.begin(), names.end()};
}

// The files of `now` that are not in `before`.
bool any_new(const std::set<std::string>& now, const std::set<std::string>& before) {
  return std::any_of(now.begin(), now.end(),
                     [&](const std::string& name) { return !before.count(name); });
}

// What the link-in (orv_ssh_link.sh) refused since the last run: its runs
// for a sender answer that sender, so the site's own log learns of them
// here, once each (the file is taken aside before it is read).
void log_link_in_refusals(const std::string& dir, exchange_log& log) {
  const std::string refused = join(join(dir, html_dir), ".inbox-link/refused");
  const std::string telling = refused + ".telling";
  std::string why;
  if (!platform::exists(refused) || !platform::rename_file(refused, telling, &why)) return;
  std::optional<std::string> text = platform::read_site_file(telling, &why, 1 << 20);
  platform::remove_file(telling);
  if (!text) {
    log.line(log_priority::warning, dir + ": the link-in's refusals cannot be read: " + why);
    return;
  }
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) log.line(log_priority::warning, dir + ": the link-in refused: " + line);
  }
}

}  // namespace

std::optional<std::string> configured_orv_id(const std::string& dir) {
  std::string id = site_orv_id(dir);
  if (id.empty()) return std::nullopt;
  return id;
}

bool get_script_fetches(const std::string& dir) {
  std::optional<std::string> script =
      platform::read_file(join(join(dir, html_dir), exchange::get_script));
  return !script || script->find(fetches_nothing_mark) == std::string::npos;
}

std::set<std::string> waiting_for_pick_up(const std::string& dir, const std::string& orv_id) {
  if (orv_id.empty()) return {};
  std::string html = join(dir, html_dir);
  std::set<std::string> names;
  for (std::string& name : platform::list_files_oldest_first(join(html, exchange::inbox_dir))) {
    if (exchange::is_for_site(name, orv_id)) names.insert(std::move(name));
  }
  // Files a killed pick-up had taken out of inbox: the next run of the
  // manager puts them back, so a pick-up is due for them too.
  for (const std::string& name : platform::list_file_names(join(html, exchange::held_dir))) {
    names.insert(std::string(exchange::held_dir) + "/" + name);
  }
  return names;
}

namespace {

// What one exchange gathers over its rounds, for its summary, record and log.
struct exchange_run {
  std::string dir;
  std::int64_t now = 0;
  exchange_record& record;
  exchange_log& log;
  std::vector<std::string> peer_ids;  // the peers the site knows, for outbox names
  int sent = 0;
  int picked = 0;
  std::map<std::string, int> sent_to;        // peer -> files delivered
  std::map<std::string, int> received_from;  // sender -> messages; "" when not known
  std::vector<std::string> problems;         // for standard error
};

// The files a send was to deliver, by the folder they waited in.
struct send_files {
  const std::string& box;
  const std::set<std::string>& names;
};

// Notes a send: each file gone from the folder it waited in (`outbox`, or
// the folder of a send cut short) was delivered; a peer whose files stayed
// is failing, for the reason the transfer script gave about it.
void note_sent(exchange_run& run, std::initializer_list<send_files> sends, const site::answer& a,
               const run_notes& notes) {
  std::map<std::string, std::pair<int, int>> by_peer;  // peer -> files sent, files left
  for (const send_files& files : sends) {
    for (const std::string& name : files.names) {
      bool gone = !platform::exists(join(files.box, name));
      if (gone) ++run.sent;
      std::pair<int, int>& n = by_peer[peer_of_file(name, run.peer_ids)];
      (gone ? n.first : n.second) += 1;
    }
  }
  for (const auto& [peer, n] : by_peer) {
    peer_record& p = run.record.peer(peer);
    if (n.first > 0) run.sent_to[p.peer] += n.first;
    if (n.second == 0) {
      p.last_send = run.now;
      p.failing_since = 0;
      continue;
    }
    if (p.failing_since == 0) p.failing_since = run.now;
    p.last_failure = run.now;
    p.failure_cause = failure_cause(notes.said, peer);
    run.log.line(log_priority::error, run.dir + ": sending to " + p.peer + " failed (" +
                                          plural(n.second, "file") +
                                          " left in outbox): " + p.failure_cause);
  }
  run.problems.insert(run.problems.end(), a.errors.begin(), a.errors.end());
}

// Notes a pick-up: each file applied counts for its sender; each file set
// aside is a refusal of its own in the log. What the site said about the
// messages of this round goes out every time; what it said before it took
// the first (about its stored cells and files: the same on every run until
// the operator acts) once a day per text.
void note_picked(exchange_run& run, const site::answer& a) {
  int taken = 0;
  for (const site::picked_file& f : a.picked.value_or(std::vector<site::picked_file>{})) {
    if (!f.applied) {
      std::string line = f.refusal.empty() ? f.file + ": " + f.why : f.refusal;
      run.log.line(log_priority::warning, run.dir + ": refused: " + line);
      continue;
    }
    ++taken;
    std::string sender = f.sender.value_or("");
    if (!sender.empty()) {
      peer_record& p = run.record.peer(sender);
      p.last_receive = run.now;
      sender = p.peer;
    }
    ++run.received_from[sender];
  }
  run.picked += taken;
  if (taken > 0) run.record.last_receive = run.now;
  const std::vector<std::string> warnings = a.pick_up_warnings.value_or(std::vector<std::string>{});
  for (size_t i = std::min(warnings.size(), a.errors.size()); i < a.errors.size(); ++i) {
    run.problems.push_back(a.errors[i]);
  }
  if (warnings.empty()) return;
  const std::string file = join(join(run.dir, html_dir), reported_file);
  const std::string day = today();
  std::set<std::string> known = reported_today(file, day);
  bool added = false;
  for (const std::string& line : warnings) {
    if (!known.insert(line).second) continue;
    added = true;
    run.problems.push_back(line);
  }
  if (added) note_reported(file, day, known);
}

}  // namespace

int exchange_site(const std::string& dir, std::ostream& out, std::ostream& err,
                  std::optional<int> keep, const exchange_extras& extras) {
  std::string html = join(dir, html_dir);
  if (!platform::exists(join(html, "config.txt"))) {
    err << "orvsite exchange: " << dir << " is not a site (no " << html << "/config.txt)\n";
    return 1;
  }

  // One exchange of a site at a time (a timer's, a watcher's, the
  // operator's): each reads the record first and writes it last, so two at
  // once would lose what the first saw. Each request still takes the run
  // lock, as the web server's do.
  platform::run_lock one_at_a_time(join(html, "exchange.lock"));
  if (!one_at_a_time.held()) {
    err << "orvsite exchange: cannot lock " << join(html, "exchange.lock")
        << "; going on without\n";
  }

  // What this run sees goes into the site's record and log as well.
  std::int64_t now = platform::now_seconds();
  exchange_record record = read_exchange_record(dir);
  if (!record.damaged.empty()) {
    err << "orvsite exchange: " << join(dir, exchange_record_file) << " is damaged ("
        << record.damaged.front() << "); what reads is kept and it is written anew\n";
  }
  record.last_run = now;
  exchange_log log(dir, extras.log_file, err);
  // Marked as running until it ends, so that a run killed on the way is
  // seen (by orvsite status now, by this line at the next run).
  running_mark running(dir);
  if (!running.previous().empty()) {
    log.line(log_priority::error, dir + ": the exchange " + running.previous() +
                                      " died without finishing");
  }
  log_link_in_refusals(dir, log);
  exchange_run run{dir, now, record, log, known_peer_ids(dir), 0, 0, {}, {}, {}};
  // Ends the run: the record written (a failure to write it is only said),
  // the metrics when asked for.
  auto finish = [&](int status) {
    std::string why;
    if (!write_exchange_record(dir, record, &why)) {
      err << "orvsite exchange: cannot write the exchange record: " << why << "\n";
    }
    if (extras.prometheus_file) {
      std::vector<site_status> sites = {site_status_of(dir, status_limits{}, now)};
      if (!write_prometheus(*extras.prometheus_file, sites, now, &why)) {
        err << "orvsite exchange: cannot write the metrics: " << why << "\n";
      }
    }
    return status;
  };
  auto manager_failed = [&](const run_notes& notes) {
    record.last_failure = now;
    record.failure_cause = one_line(notes.failure);
    log.line(log_priority::error, dir + ": the exchange failed: " + record.failure_cause);
    return finish(1);
  };

  std::string outbox = join(html, exchange::outbox_dir);
  // Files of a send cut short (the put script killed after it took them
  // out of outbox): the first send finishes them, even with outbox empty.
  std::string cut_dir = join(html, exchange::cut_send_dir);
  std::set<std::string> cut = files_of(cut_dir);
  // A pick-up saves the store and files a backup copy: it runs only when
  // inbox holds a file for this site, unless the get script fetches from
  // elsewhere (then only the pick-up can tell).
  std::optional<std::string> orv_id = configured_orv_id(dir);
  bool always_pick_up = !orv_id || get_script_fetches(dir);
  // Files may arrive while a round runs (and a pick-up writes answers into
  // outbox): another round follows while a round leaves new files behind.
  std::set<std::string> sent_before;
  std::set<std::string> offered_before;
  bool picked_up = false;  // a pick-up ran, and filed a backup copy
  for (int round = 0; round < max_rounds; ++round) {
    std::set<std::string> waiting = files_of(outbox);
    bool send = any_new(waiting, sent_before) || (round == 0 && !cut.empty());
    if (send) {
      site::answer a;
      run_notes notes;
      if (!request(dir, send_query, extras, a, err, notes)) return manager_failed(notes);
      const std::set<std::string> none;
      note_sent(run, {{outbox, waiting}, {cut_dir, round == 0 ? cut : none}}, a, notes);
      sent_before = files_of(outbox);
    }

    std::set<std::string> offered =
        always_pick_up ? std::set<std::string>{} : waiting_for_pick_up(dir, *orv_id);
    bool pick_up = always_pick_up ? round == 0 : any_new(offered, offered_before);
    if (pick_up) {
      site::answer a;
      run_notes notes;
      if (!request(dir, pick_up_query, extras, a, err, notes)) return manager_failed(notes);
      picked_up = true;
      note_picked(run, a);
      if (!always_pick_up) offered_before = waiting_for_pick_up(dir, *orv_id);
    }
    if (!send && !pick_up) break;
    // What the pick-up left in outbox, or what came meanwhile, goes next.
    bool more = any_new(files_of(outbox), sent_before) ||
                (!always_pick_up && any_new(waiting_for_pick_up(dir, *orv_id), offered_before));
    if (!more) break;
  }
  size_t left = files_of(outbox).size();
  if (left > 0 && !sent_before.empty()) {
    run.problems.insert(run.problems.begin(), plural(static_cast<int>(left), "message") +
                                                  " still waiting in outbox");
  }

  // Each pick-up files a backup copy, a whole store at the time: on a
  // schedule they add up, so the oldest go beyond `keep`.
  int status = 0;
  if (keep && picked_up) {
    std::ostringstream pruned;
    if (prune_command(dir, *keep, pruned, err) != 0) status = 1;
  }

  if (run.sent > 0 || run.picked > 0) {
    log.line(log_priority::info, dir + ": sent " + plural(run.sent, "message") +
                                     by_site(run.sent_to) + ", picked up " +
                                     plural(run.picked, "message") + by_site(run.received_from));
    out << dir << ": sent " << plural(run.sent, "message") << ", picked up "
        << plural(run.picked, "message") << "\n";
  }
  for (const std::string& p : run.problems) err << dir << ": " << p << "\n";
  return finish(status);
}

namespace {

// The sessions kept open to the peers while the watch runs (carrier.h),
// unless connections are not kept (ORV_SSH_PERSIST=0) or ORV_SSH_SESSIONS
// is 0. Its socket goes beside the kept connections' sockets, and the
// sends of the site's put script learn it from ORV_CARRIER.
std::unique_ptr<carrier> open_carrier(const std::string& html, std::ostream& err) {
  std::string seconds = kept_seconds();
  if (seconds.find_first_not_of('0') == std::string::npos ||
      platform::environment("ORV_SSH_SESSIONS").value_or("") == "0") {
    return nullptr;
  }
  std::string keep = kept_sockets(html);
  std::string socket = join(keep, "carrier");
  if (keep.empty() || socket.size() > 100) return nullptr;
  // A session that ended shows as a failed write, not as the pipe signal.
  std::signal(SIGPIPE, SIG_IGN);
  platform::set_environment(carrier_variable, socket);
  std::string why;
  std::unique_ptr<carrier> c = carrier::open(
      socket, static_cast<int>(std::min<std::int64_t>(std::stoll(seconds.substr(0, 9)), 999999999)),
      &why);
  if (!c) {
    platform::set_environment(carrier_variable, "");
    err << "orvsite watch: no kept delivery sessions: " << why << "\n";
  }
  return c;
}

}  // namespace

int watch_site(const std::string& dir, std::ostream& out, std::ostream& err,
               std::optional<int> keep, int retry_seconds) {
  std::string html = join(dir, html_dir);
  if (!platform::exists(join(html, "config.txt"))) {
    err << "orvsite watch: " << dir << " is not a site (no " << html << "/config.txt)\n";
    return 1;
  }
  const std::set<std::string> boxes = {exchange::inbox_dir, exchange::outbox_dir};
  for (const std::string& box : boxes) {
    std::string path = join(html, box);
    if (!platform::is_directory(path)) platform::make_directory(path);
  }
  // The kernel watches directories, not paths: a box removed, or moved
  // and made anew (by a restore, by hand), or html moved away and back,
  // would no longer be seen. So the site directory is watched for html,
  // html for the boxes, and a change of either means watching anew.
  // `missing` tells what is not there to watch (its parent tells when it
  // comes back); false, with `*why`, when the site cannot be watched.
  std::unique_ptr<platform::directory_watch> watch;
  auto watch_anew = [&](std::string* why, std::string* missing) {
    watch = std::make_unique<platform::directory_watch>();
    missing->clear();
    if (!watch->add_names(dir, {html_dir}, why)) {
      if (why->empty()) *why = dir + ": the site directory is gone";
      return false;
    }
    if (!watch->add_names(html, boxes, why)) {
      if (!why->empty()) return false;
      *missing = html;
      return true;
    }
    for (const std::string& box : boxes) {
      if (watch->add(join(html, box), why)) continue;
      if (!why->empty()) return false;
      *missing += (missing->empty() ? "" : " and ") + join(html, box);
    }
    return true;
  };
  std::string why, missing;
  if (!watch_anew(&why, &missing)) {
    err << "orvsite watch: cannot watch " << why << "\n";
    return 1;
  }
  std::unique_ptr<carrier> sessions = open_carrier(html, err);
  // The sessions to the peers are opened at once, beside the first round,
  // so that the first message to each does not wait for a login.
  std::jthread opener;
  if (sessions) opener = std::jthread([html] { open_sessions(html); });
  // The watch is set before the first round: a file that arrives during it
  // is seen afterwards.
  for (;;) {
    int status = exchange_site(dir, out, err, keep);
    out.flush();
    err.flush();
    // A failed round, or files left in outbox (a peer out of reach) or of
    // a send cut short, are tried again after `retry_seconds`, or at the
    // next arrival.
    bool again = status != 0 || !files_of(join(html, exchange::outbox_dir)).empty() ||
                 !files_of(join(html, exchange::cut_send_dir)).empty();
    platform::directory_watch::events seen = watch->wait(again ? retry_seconds * 1000 : -1);
    if (!seen) continue;
    // A burst of files comes as a burst of events: the round starts once
    // they pause for a moment, or after a second at most.
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(debounce_limit_ms)) {
      platform::directory_watch::events more = watch->wait(debounce_ms);
      if (!more) break;
      seen.changed = seen.changed || more.changed;
    }
    if (!seen.changed) continue;
    // The boxes (or html) were replaced, moved or removed: the new ones are
    // watched, and the round that follows takes what came meanwhile.
    bool watched = watch_anew(&why, &missing);
    std::string line =
        dir + ": html, html/inbox or html/outbox was replaced, moved or removed; " +
        (!watched ? "cannot watch the site any more (" + why + "): the watch ends"
         : missing.empty() ? std::string("watching the new ones")
                           : "waiting for " + missing + " to be made again");
    exchange_log log(dir, std::nullopt, err);
    log.line(watched ? log_priority::warning : log_priority::error, line);
    out << line << "\n";
    out.flush();
    if (!watched) {
      err << "orvsite watch: cannot watch " << why << "\n";
      return 1;
    }
  }
}

}  // namespace orvsite
