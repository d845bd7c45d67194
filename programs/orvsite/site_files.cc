// Site files: paths of a site and the manager names of its pages.
#include "programs/orvsite/site_files.h"

#include <algorithm>
#include <ctime>
#include <set>
#include <sstream>

#include "exchange/exchange.h"
#include "formdecode/page.h"
#include "pages/zoa_lang.h"
#include "platform/platform.h"

namespace orvsite {

std::string join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  return a.back() == '/' ? a + b : a + "/" + b;
}

std::vector<std::string> files_ending_with(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> names;
  for (std::string& name : platform::list_files_oldest_first(dir)) {
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(std::move(name));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> manager_names(const std::string& pages) {
  std::set<std::string> names;
  for (const std::string& file : files_ending_with(pages, ".zoaml")) {
    std::optional<std::string> text = platform::read_file(join(pages, file));
    if (!text) continue;
    std::ostringstream ignored;  // a damaged page is `orvsite check`'s business
    formdecode::page pg(ignored);
    pages::zoa_page page;
    pages::zoa_scanner sc(*text);
    pages::parse_page(sc, page, pg);
    if (!page.form || !page.form->cgi) continue;
    const std::string& cgi = *page.form->cgi;
    // Only a name that stays inside the site directory is a program of the
    // site; a URL elsewhere is another site's business.
    if (exchange::is_plain_name(cgi) && cgi[0] != '.' && cgi.find(':') == std::string::npos) {
      names.insert(cgi);
    }
  }
  return {names.begin(), names.end()};
}

std::string manager_program(const std::string& dir) {
  for (const std::string& name : manager_names(join(dir, page_dir))) {
    if (platform::exists(join(dir, name))) return name;
  }
  return default_manager;
}

}  // namespace orvsite

namespace orvsite {

in_directory::in_directory(const std::string& dir) : old_(platform::current_directory()) {
  entered_ = !old_.empty() && platform::change_directory(dir);
}

in_directory::~in_directory() {
  if (entered_) platform::change_directory(old_);
}

std::string absolute(const std::string& dir) {
  if (!dir.empty() && dir[0] == '/') return dir;
  return join(platform::current_directory(), dir);
}

std::string substitute_ids(std::string text, const std::string& orv_id,
                           const std::string& server_id) {
  for (const auto& [from, to] : {std::pair<std::string_view, const std::string&>{"@ORV_ID@", orv_id},
                                 {"@SERVER_ID@", server_id}}) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }
  return text;
}

std::string utc_text(std::int64_t seconds, const char* format) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

}  // namespace orvsite
