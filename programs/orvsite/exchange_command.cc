// `orvsite exchange`: run the manager as a web server would, and tell what
// its pages say was sent and picked up.
#include "programs/orvsite/exchange_command.h"

#include <ctime>
#include <set>
#include <sstream>

#include "exchange/exchange.h"
#include "platform/platform.h"
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

// Today's date (UTC), as the reported-warnings file notes it.
std::string today() {
  std::time_t now = static_cast<std::time_t>(platform::now_seconds());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char day[16];
  std::strftime(day, sizeof day, "%Y-%m-%d", &tm);
  return day;
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

}  // namespace

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
  std::vector<std::string> waiting = platform::list_files_oldest_first(outbox);
  int sent = 0;
  std::vector<std::string> problems;
  if (!waiting.empty()) {
    std::string page;
    if (!request(dir, program, send_query, &page, err)) return 1;
    for (const std::string& name : waiting) {
      if (!platform::exists(join(outbox, name))) ++sent;
    }
    int left = static_cast<int>(platform::list_files_oldest_first(outbox).size());
    if (left > 0) problems.push_back(plural(left, "message") + " still waiting in outbox");
    for (std::string& line : error_lines(page)) problems.push_back(std::move(line));
  }

  std::string page;
  if (!request(dir, program, pick_up_query, &page, err)) return 1;
  int picked = count_of(page, picked_line);
  // What the manager says before it takes the first message is what
  // loading the stored cells and the site's files says (a vantle's keyword
  // that kb.txt lacks, ...): the same on every run until the operator acts,
  // so each text goes out once a day. What it says about the messages of
  // this round always goes out.
  size_t first_taken = page.find(picked_line);
  std::vector<std::string> warnings =
      error_lines(first_taken == std::string::npos ? page : page.substr(0, first_taken));
  if (first_taken != std::string::npos) {
    for (std::string& line : error_lines(page.substr(first_taken))) problems.push_back(std::move(line));
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

  // Each pick-up files a backup copy, a whole store at the time: on a
  // schedule they add up, so the oldest go beyond `keep`.
  int status = 0;
  if (keep) {
    std::ostringstream pruned;
    if (prune_command(dir, *keep, pruned, err) != 0) status = 1;
  }

  if (sent > 0 || picked > 0) {
    out << dir << ": sent " << plural(sent, "message") << ", picked up "
        << plural(picked, "message") << "\n";
  }
  for (const std::string& p : problems) err << dir << ": " << p << "\n";
  return status;
}

}  // namespace orvsite
