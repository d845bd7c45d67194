// `orvsite exchange`: run the manager as a web server would, and tell what
// its pages say was sent and picked up.
#include "programs/orvsite/exchange_command.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <set>
#include <sstream>

#include "exchange/exchange.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "site/config.h"
#include "programs/orvsite/site_files.h"
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

std::string plural(int n, const char* one) {
  return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

// One request to the manager; false (with the reason on `err`) when it
// could not be run or ended with a failure status.
bool request(const std::string& dir, const std::string& program, const char* query,
             std::string* page, std::ostream& err) {
  platform::program_result r;
  std::string why;
  // The program starts in `dir`: a relative path to it would be taken from
  // there, so it is made absolute first.
  std::string path = join(dir, program);
  if (path.front() != '/') path = join(platform::current_directory(), path);
  if (!platform::run_program(path, dir, cgi_environment(program, query), &r, &why)) {
    err << "orvsite exchange: " << why << "\n";
    return false;
  }
  *page = r.out;
  if (r.status != 0) {
    // The page tells why (a damaged file, a failed save): its last lines.
    err << "orvsite exchange: " << path << " ended with status " << r.status << " on "
        << query << "\n";
    for (const std::string& line : last_lines(r.out, 10)) err << "  " << line << "\n";
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

std::optional<std::string> site_orv_id(const std::string& dir) {
  in_directory in(join(dir, html_dir));
  if (!in.entered()) return std::nullopt;
  std::ostringstream page;
  formdecode::output out(page);
  try {
    site::site_config cfg = site::read_config(out);
    return cfg.orv_id;
  } catch (const formdecode::run_exit&) {
    return std::nullopt;
  }
}

bool get_script_fetches(const std::string& dir) {
  std::optional<std::string> script =
      platform::read_file(join(join(dir, html_dir), exchange::get_script));
  return !script || script->find(fetches_nothing_mark) == std::string::npos;
}

std::set<std::string> waiting_for_pick_up(const std::string& dir, const std::string& orv_id) {
  if (orv_id.empty()) return {};
  return files_beginning_with(join(join(dir, html_dir), exchange::inbox_dir), orv_id);
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
                  std::optional<int> keep) {
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

  std::string outbox = join(html, exchange::outbox_dir);
  std::string inbox = join(html, exchange::inbox_dir);
  // A pick-up saves the store and files a backup copy: it runs only when
  // inbox holds a file for this site, unless the get script fetches from
  // elsewhere (then only the pick-up can tell).
  std::optional<std::string> orv_id = site_orv_id(dir);
  bool always_pick_up = !orv_id || get_script_fetches(dir);
  int sent = 0;
  int picked = 0;
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
      if (!request(dir, program, send_query, &page, err)) return 1;
      for (const std::string& name : waiting) {
        if (!platform::exists(join(outbox, name))) ++sent;
      }
      for (std::string& line : error_lines(page)) problems.push_back(std::move(line));
      sent_before = files_beginning_with(outbox, "");
    }
    std::set<std::string> offered =
        always_pick_up ? std::set<std::string>{} : waiting_for_pick_up(dir, *orv_id);
    bool pick_up = always_pick_up ? round == 0 : any_new(offered, offered_before);
    if (pick_up) {
      std::string page;
      if (!request(dir, program, pick_up_query, &page, err)) return 1;
      picked_up = true;
      picked += count_of(page, picked_line);
      for (std::string& line : error_lines(page)) problems.push_back(std::move(line));
      if (!always_pick_up) offered_before = waiting_for_pick_up(dir, *orv_id);
    }
    if (!send && !pick_up) break;
    // What the pick-up left in outbox, or what came meanwhile, goes next.
    bool more = any_new(files_beginning_with(outbox, ""), sent_before) ||
                (!always_pick_up && any_new(waiting_for_pick_up(dir, *orv_id), offered_before));
    if (!more) break;
  }
  size_t left = files_beginning_with(outbox, "").size();
  if (left > 0 && sent_before.size() > 0) {
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

  if (sent == 0 && picked == 0 && problems.empty()) return status;
  out << dir << ": sent " << plural(sent, "message") << ", picked up "
      << plural(picked, "message") << "\n";
  for (const std::string& p : problems) out << "  " << p << "\n";
  return status;
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
