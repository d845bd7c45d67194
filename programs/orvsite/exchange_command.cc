// `orvsite exchange`: run the manager as a web server would, and tell what
// its pages say was sent and picked up.
#include "programs/orvsite/exchange_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <sstream>

#include "exchange/exchange.h"
#include "platform/platform.h"
#include "programs/orvsite/exchange_log.h"
#include "programs/orvsite/exchange_record.h"
#include "programs/orvsite/site_files.h"
#include "programs/orvsite/status_command.h"
#include "programs/orvsite/state_command.h"

namespace orvsite {
namespace {

// The text the manager writes for each file it picks up.
constexpr std::string_view picked_line = "Pick up an incoming message from file: ";

int count_of(const std::string& text, std::string_view what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The lines of a page that report an error, without their markup.
std::vector<std::string> error_lines(const std::string& page) {
  std::vector<std::string> lines;
  for (size_t at = page.find("Error"); at != std::string::npos;
       at = page.find("Error", at + 1)) {
    if (at != 0 && page[at - 1] != '\n' && page[at - 1] != '>') continue;
    size_t end = page.find_first_of("\n<", at);
    lines.push_back(page.substr(at, end == std::string::npos ? std::string::npos : end - at));
  }
  return lines;
}

// The last `most` lines of what a page says, after its header.
std::vector<std::string> last_lines(const std::string& page, size_t most) {
  size_t body = page.find("\n\n");
  std::vector<std::string> lines =
      page_lines(std::string_view(page).substr(body == std::string::npos ? 0 : body + 2));
  if (lines.size() > most) lines.erase(lines.begin(), lines.end() - static_cast<long>(most));
  return lines;
}

// Today's date (UTC), as the reported-warnings file notes it.
std::string today() {
  return utc_text(platform::now_seconds(), "%Y-%m-%d");
}

// The warnings already reported today, from `file`: lines "DATE<TAB>TEXT".
// Lines of other days, lines that do not read and a file that does not read
// count as nothing reported (the warning then goes out once more).
std::set<std::string> reported_today(const std::string& file, const std::string& day) {
  std::set<std::string> texts;
  std::optional<std::string> text = platform::read_file(file);
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

// The start of the page line of an incoming file set aside, and of every
// error line.
constexpr std::string_view refused_line = "Error: The incoming file ";
constexpr std::string_view error_prefix = "Error: ";

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

// Where the SSH transfer's receiving half marks each delivery, by transfer
// id SENDER.NAME.HASH (NAME: the file's name in the sender's outbox).
constexpr const char* delivery_marks = ".inbox-staging/done";

// The sender of the inbox file `name` by the delivery marks: the one
// sender of a mark whose NAME is `name` (or `name` without the ".N" a taken
// name gets); empty when no mark, or marks of several senders, match.
std::string sender_by_marks(const std::string& name, const std::vector<std::string>& marks) {
  std::string base = name;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() &&
      name.find_first_not_of("0123456789", dot + 1) == std::string::npos) {
    base = name.substr(0, dot);
  }
  std::string sender;
  for (const std::string& mark : marks) {
    size_t first = mark.find('.'), last = mark.rfind('.');
    if (first == std::string::npos || first == last) continue;
    std::string sent_as = mark.substr(first + 1, last - first - 1);
    if (sent_as != name && sent_as != base) continue;
    std::string from = mark.substr(0, first);
    if (!sender.empty() && sender != from) return "";
    sender = from;
  }
  return sender;
}

// The sender of the message file `path` by its sending cell: a source
// cell lives at its site, so that site sent it; a copy of a cell may live
// anywhere, so then the sender is not known (empty).
std::string sender_by_message(const std::string& path, const std::string& self) {
  std::optional<std::string> text = platform::read_file(path);
  if (!text) return "";
  std::optional<engine::ext_message> m = exchange::parse_message_file(*text);
  if (!m || m->sender.flag != 's' || m->sender.orv_id.empty() || m->sender.orv_id == self) {
    return "";
  }
  return m->sender.orv_id;
}

// True when `line` holds `id` as a word of its own (letter case aside).
bool mentions(const std::string& line, const std::string& id) {
  auto lower = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
  };
  std::string l = lower(line), w = lower(id);
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

// What a request said besides its page, for the record and the log.
struct run_notes {
  std::string said;     // its standard error (the transfer scripts' reports)
  std::string failure;  // why it failed, when it did
};

// One request to the manager; false (with the reason on `err`) when it
// could not be run or ended with a failure status.
bool request(const std::string& dir, const std::string& program, const char* query,
             std::string* page, std::ostream& err, run_notes* notes = nullptr) {
  platform::program_result r;
  std::string why;
  // The program starts in `dir`: a relative path to it would be taken from
  // there, so it is made absolute first.
  std::string path = join(dir, program);
  if (path.front() != '/') path = join(platform::current_directory(), path);
  std::string said;
  bool ran = platform::run_program(path, dir, cgi_environment(program, query), &r, &why,
                                   notes ? &said : nullptr);
  if (notes) {
    // What the manager and its transfer scripts said goes on as ever.
    err << said;
    notes->said = said;
  }
  if (!ran) {
    err << "orvsite exchange: " << why << "\n";
    if (notes) notes->failure = why;
    return false;
  }
  *page = r.out;
  if (r.status != 0) {
    // The page tells why (a damaged file, a failed save): its last lines.
    std::ostringstream text;
    text << path << " ended with status " << r.status << " on " << query;
    err << "orvsite exchange: " << text.str() << "\n";
    std::vector<std::string> lines = last_lines(r.out, 10);
    for (const std::string& line : lines) err << "  " << line << "\n";
    if (notes) notes->failure = text.str() + (lines.empty() ? "" : ": " + lines.back());
    return false;
  }
  return true;
}

// The files of `dir` whose names begin with `prefix`, without regard to
// case (all of them for an empty prefix).
std::set<std::string> files_beginning_with(const std::string& dir, const std::string& prefix) {
  std::set<std::string> names;
  for (std::string& name : platform::list_files_oldest_first(dir)) {
    if (name.size() < prefix.size()) continue;
    bool same = std::equal(prefix.begin(), prefix.end(), name.begin(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) ==
             std::tolower(static_cast<unsigned char>(b));
    });
    if (same) names.insert(std::move(name));
  }
  return names;
}

// The files of `now` that are not in `before`.
bool any_new(const std::set<std::string>& now, const std::set<std::string>& before) {
  return std::any_of(now.begin(), now.end(),
                     [&](const std::string& name) { return !before.count(name); });
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
  std::set<std::string> names = files_beginning_with(join(html, exchange::inbox_dir), orv_id);
  // Files a killed pick-up had taken out of inbox: the next run of the
  // manager puts them back, so a pick-up is due for them too.
  for (const std::string& name : platform::list_file_names(join(html, exchange::held_dir))) {
    names.insert(std::string(exchange::held_dir) + "/" + name);
  }
  return names;
}

std::vector<std::string> cgi_environment(const std::string& program, const std::string& query) {
  std::vector<std::string> env = {
      "GATEWAY_INTERFACE=CGI/1.1",
      "SERVER_PROTOCOL=HTTP/1.1",
      "REQUEST_METHOD=GET",
      "QUERY_STRING=" + query,
      "SCRIPT_NAME=/" + program,
      "PATH=" + platform::environment("PATH").value_or("/usr/local/bin:/usr/bin:/bin"),
  };
  if (std::optional<std::string> home = platform::environment("HOME")) env.push_back("HOME=" + *home);
  return env;
}

int exchange_site(const std::string& dir, std::ostream& out, std::ostream& err,
                  std::optional<int> keep, const exchange_extras& extras) {
  std::string html = join(dir, html_dir);
  if (!platform::exists(join(html, "config.txt"))) {
    err << "orvsite exchange: " << dir << " is not a site (no " << html << "/config.txt)\n";
    return 1;
  }
  std::string program = manager_program(dir);
  if (!platform::exists(join(dir, program))) {
    err << "orvsite exchange: " << dir << " has no manager program " << program << "\n";
    return 1;
  }

  // One exchange of a site at a time (a timer's, a watcher's, the
  // operator's): each reads the record first and writes it last, so two at
  // once would lose what the first saw. The manager's requests still take
  // the run lock each.
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
  std::vector<std::string> ids = known_peer_ids(dir);
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
  std::string inbox = join(html, exchange::inbox_dir);
  // A pick-up saves the store and files a backup copy: it runs only when
  // inbox holds a file for this site, unless the get script fetches from
  // elsewhere (then only the pick-up can tell).
  std::optional<std::string> orv_id = configured_orv_id(dir);
  bool always_pick_up = !orv_id || get_script_fetches(dir);
  int sent = 0;
  int picked = 0;
  std::map<std::string, int> sent_to;        // peer -> files delivered
  std::map<std::string, int> received_from;  // sender -> messages; "" when not known
  std::vector<std::string> problems;
  // Files may arrive while a round runs (and a pick-up writes answers into
  // outbox): another round follows while a round leaves new files behind.
  std::set<std::string> sent_before;
  std::set<std::string> offered_before;
  bool picked_up = false;  // a pick-up ran, and filed a backup copy
  for (int round = 0; round < max_rounds; ++round) {
    std::set<std::string> waiting = files_beginning_with(outbox, "");
    bool send = any_new(waiting, sent_before);
    if (send) {
      std::string page;
      run_notes notes;
      if (!request(dir, program, send_query, &page, err, &notes)) return manager_failed(notes);
      std::map<std::string, std::pair<int, int>> by_peer;  // peer -> files sent, files left
      for (const std::string& name : waiting) {
        bool gone = !platform::exists(join(outbox, name));
        if (gone) ++sent;
        std::pair<int, int>& n = by_peer[peer_of_file(name, ids)];
        (gone ? n.first : n.second) += 1;
      }
      for (const auto& [peer, n] : by_peer) {
        peer_record& p = record.peer(peer);
        if (n.first > 0) sent_to[p.peer] += n.first;
        if (n.second == 0) {
          p.last_send = now;
          p.failing_since = 0;
          continue;
        }
        if (p.failing_since == 0) p.failing_since = now;
        p.last_failure = now;
        p.failure_cause = failure_cause(notes.said, peer);
        log.line(log_priority::error, dir + ": sending to " + p.peer + " failed (" +
                                          plural(n.second, "file") +
                                          " left in outbox): " + p.failure_cause);
      }
      for (std::string& line : error_lines(page)) problems.push_back(std::move(line));
      sent_before = files_beginning_with(outbox, "");
    }

    std::set<std::string> offered =
        always_pick_up ? std::set<std::string>{} : waiting_for_pick_up(dir, *orv_id);
    bool pick_up = always_pick_up ? round == 0 : any_new(offered, offered_before);
    if (pick_up) {
      // The senders of the files waiting in inbox: their names only tell
      // this site's own id.
      std::map<std::string, std::string> sender_of;  // file name -> sender's orv id
      std::vector<std::string> delivered = platform::list_file_names(join(html, delivery_marks));
      std::string self = site_orv_id(dir);
      for (const std::string& name : platform::list_file_names(inbox)) {
        std::string sender = sender_by_marks(name, delivered);
        if (sender.empty()) sender = sender_by_message(join(inbox, name), self);
        if (!sender.empty()) sender_of[name] = sender;
      }

      std::string page;
      run_notes notes;
      if (!request(dir, program, pick_up_query, &page, err, &notes)) return manager_failed(notes);
      picked_up = true;
      int taken = count_of(page, picked_line);
      picked += taken;
      for (size_t at = page.find(picked_line); at != std::string::npos;
           at = page.find(picked_line, at + 1)) {
        size_t from = at + picked_line.size();
        std::string path = page.substr(from, page.find_first_of("\n<", from) - from);
        std::string name = path.substr(path.rfind('/') + 1);
        auto it = sender_of.find(name);
        std::string sender = it == sender_of.end() ? "" : it->second;
        if (!sender.empty()) {
          peer_record& p = record.peer(sender);
          p.last_receive = now;
          sender = p.peer;
        }
        ++received_from[sender];
      }
      if (taken > 0) record.last_receive = now;
      // What the manager says before it takes the first message is what
      // loading the stored cells and the site's files says (a vantle's
      // keyword that kb.txt lacks, ...): the same on every run until the
      // operator acts, so each text goes out once a day. What it says about
      // the messages of this round always goes out.
      size_t first_taken = page.find(picked_line);
      std::vector<std::string> warnings =
          error_lines(first_taken == std::string::npos ? page : page.substr(0, first_taken));
      if (first_taken != std::string::npos) {
        for (std::string& line : error_lines(page.substr(first_taken))) {
          // An incoming file set aside is a refusal of its own in the log.
          if (line.rfind(refused_line, 0) == 0) {
            log.line(log_priority::warning, dir + ": refused: " + line.substr(error_prefix.size()));
          }
          problems.push_back(std::move(line));
        }
      }
      if (!warnings.empty()) {
        const std::string file = join(html, reported_file);
        const std::string day = today();
        std::set<std::string> known = reported_today(file, day);
        bool added = false;
        for (std::string& line : warnings) {
          if (!known.insert(line).second) continue;
          added = true;
          problems.push_back(std::move(line));
        }
        if (added) note_reported(file, day, known);
      }
      if (!always_pick_up) offered_before = waiting_for_pick_up(dir, *orv_id);
    }
    if (!send && !pick_up) break;
    // What the pick-up left in outbox, or what came meanwhile, goes next.
    bool more = any_new(files_beginning_with(outbox, ""), sent_before) ||
                (!always_pick_up && any_new(waiting_for_pick_up(dir, *orv_id), offered_before));
    if (!more) break;
  }
  size_t left = files_beginning_with(outbox, "").size();
  if (left > 0 && !sent_before.empty()) {
    problems.insert(problems.begin(), plural(static_cast<int>(left), "message") +
                                          " still waiting in outbox");
  }

  // Each pick-up files a backup copy, a whole store at the time: on a
  // schedule they add up, so the oldest go beyond `keep`.
  int status = 0;
  if (keep && picked_up) {
    std::ostringstream pruned;
    if (prune_command(dir, *keep, pruned, err) != 0) status = 1;
  }

  if (sent > 0 || picked > 0) {
    log.line(log_priority::info, dir + ": sent " + plural(sent, "message") + by_site(sent_to) +
                                     ", picked up " + plural(picked, "message") +
                                     by_site(received_from));
    out << dir << ": sent " << plural(sent, "message") << ", picked up "
        << plural(picked, "message") << "\n";
  }
  for (const std::string& p : problems) err << dir << ": " << p << "\n";
  return finish(status);
}

int watch_site(const std::string& dir, std::ostream& out, std::ostream& err,
               std::optional<int> keep, int retry_seconds) {
  std::string html = join(dir, html_dir);
  if (!platform::exists(join(html, "config.txt"))) {
    err << "orvsite watch: " << dir << " is not a site (no " << html << "/config.txt)\n";
    return 1;
  }
  platform::directory_watch watch;
  for (const char* box : {exchange::inbox_dir, exchange::outbox_dir}) {
    std::string path = join(html, box);
    if (!platform::is_directory(path)) platform::make_directory(path);
    std::string why;
    if (!watch.add(path, &why)) {
      err << "orvsite watch: cannot watch " << why << "\n";
      return 1;
    }
  }
  // The watch is set before the first round: a file that arrives during it
  // is seen afterwards.
  for (;;) {
    int status = exchange_site(dir, out, err, keep);
    out.flush();
    err.flush();
    // A failed round, or files left in outbox (a peer out of reach), are
    // tried again after `retry_seconds`, or at the next arrival.
    bool again = status != 0 || !files_beginning_with(join(html, exchange::outbox_dir), "").empty();
    if (!watch.wait(again ? retry_seconds * 1000 : -1)) continue;
    // A burst of files comes as a burst of events: the round starts once
    // they pause for a moment, or after a second at most.
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(debounce_limit_ms) &&
           watch.wait(debounce_ms)) {
    }
  }
}

}  // namespace orvsite
