#include "tests/differential/site_pair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "engine/engine.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "programs/orv/driver.h"

namespace differential {
namespace {

namespace fs = std::filesystem;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The sample site's files every laid-out site gets, read once: name in
// `html` and text.
const std::vector<std::pair<std::string, std::string>>& sample_files() {
  static const std::vector<std::pair<std::string, std::string>> files = [] {
    const std::string samples = SAMPLES_DIR;
    return std::vector<std::pair<std::string, std::string>>{
        {"VANTLE.in", read_text(samples + "/VANTLE.in")},
        {"kb.txt", read_text(samples + "/kb.txt")},
        {"site.config", read_text(samples + "/site.config")},
        {"config.txt", read_text(samples + "/north/config.txt")},
    };
  }();
  return files;
}

// The lines of `text` split at line feeds (a carriage return stays).
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t e = text.find('\n', at);
    if (e == std::string::npos) e = text.size();
    lines.push_back(text.substr(at, e - at));
    at = e + 1;
  }
  return lines;
}

// What a run left besides its files.
struct outcome {
  std::string status;  // how it ended
  std::string page;
};

// Runs `rq` with orv in the site `site`, reading the store as `reading`.
outcome run_orv(const std::string& site, const request& rq, engine::store_reading reading) {
  for (const incoming_file& f : rq.inbox) write_text(site + "/html/inbox/" + f.name, f.text);
  int back = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (back < 0) throw std::runtime_error(std::string("cannot open . : ") + std::strerror(errno));
  if (::chdir(site.c_str()) != 0) {
    ::close(back);
    throw std::runtime_error("cannot enter " + site);
  }
  outcome o;
  std::ostringstream page;
  std::istringstream body;
  {
    formdecode::output out(page);
    formdecode::request r;
    r.request_method = "GET";
    r.query_string = rq.query;
    r.body = &body;
    try {
      orv::run(r, out, reading);
      o.status = "returned";
    } catch (const formdecode::run_exit& e) {
      o.status = "exit status " + std::to_string(e.status);
    } catch (const std::exception& e) {
      o.status = std::string("exception: ") + e.what();
    }
    out.finish();
  }
  o.page = page.str();
  const bool returned = ::fchdir(back) == 0;
  ::close(back);
  if (!returned) throw std::runtime_error("cannot return to the working directory");
  return o;
}

// One entry of a site's tree.
struct entry {
  bool directory = false;
  unsigned mode = 0;  // permission bits
  std::string text;   // a file's bytes
};

// The hint beside `BACKUP` names the next free backup number and a stamp
// of the folder (device, inode, time), which differs between any two
// sites: the stamp is compared by whether it is that of the site's own
// `BACKUP` as it is now, which makes the hint hold.
bool is_backup_hint(const std::string& rel) {
  return rel.rfind("BACKUP.", 0) == 0 && rel.size() > 12 &&
         rel.compare(rel.size() - 5, 5, ".next") == 0 && rel.find('/') == std::string::npos;
}

std::string comparable_hint(const std::string& dir, const std::string& text) {
  std::optional<std::string> stamp = platform::directory_stamp(dir + "/BACKUP");
  const size_t nl = text.find('\n');
  if (nl == std::string::npos || !stamp) return text;
  const std::string rest = text.substr(nl + 1);
  return text.substr(0, nl + 1) +
         (rest == *stamp + "\n" ? "(the stamp of BACKUP)\n" : "(another stamp: " + rest + ")\n");
}

// Everything below `dir`, by path relative to it.
std::map<std::string, entry> tree_of(const std::string& dir) {
  std::map<std::string, entry> tree;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    struct stat st;
    if (::lstat(e.path().c_str(), &st) != 0) continue;
    const std::string rel = e.path().lexically_relative(dir).string();
    entry& t = tree[rel];
    t.directory = S_ISDIR(st.st_mode);
    t.mode = st.st_mode & 07777u;
    if (S_ISREG(st.st_mode)) t.text = read_text(e.path().string());
    if (is_backup_hint(rel)) t.text = comparable_hint(dir, t.text);
  }
  return tree;
}

std::string shown(const std::string& line) {
  constexpr size_t longest = 200;
  std::string s = line.size() > longest ? line.substr(0, longest) + "..." : line;
  return "[" + s + "]";
}

// Where two texts first differ, by line.
std::string first_different_line(const std::string& full, const std::string& lazy) {
  std::vector<std::string> a = lines_of(full);
  std::vector<std::string> b = lines_of(lazy);
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i >= a.size() || i >= b.size() || a[i] != b[i]) {
      return "line " + std::to_string(i + 1) + ":\n  full: " +
             (i < a.size() ? shown(a[i]) : "(no line)") + "\n  lazy: " +
             (i < b.size() ? shown(b[i]) : "(no line)");
    }
  }
  return "the line ends (" + std::to_string(full.size()) + " and " + std::to_string(lazy.size()) +
         " bytes)";
}

std::optional<std::string> tree_difference(const std::string& full, const std::string& lazy) {
  std::map<std::string, entry> a = tree_of(full);
  std::map<std::string, entry> b = tree_of(lazy);
  auto i = a.begin();
  auto j = b.begin();
  while (i != a.end() || j != b.end()) {
    if (j == b.end() || (i != a.end() && i->first < j->first)) {
      return "html/" + i->first + " is only in the full site";
    }
    if (i == a.end() || j->first < i->first) {
      return "html/" + j->first + " is only in the lazy site";
    }
    const std::string name = "html/" + i->first;
    if (i->second.directory != j->second.directory) return name + " is a file in one site only";
    if (i->second.mode != j->second.mode) {
      char modes[64];
      std::snprintf(modes, sizeof modes, "full %04o, lazy %04o", i->second.mode, j->second.mode);
      return name + " has other permissions: " + modes;
    }
    if (i->second.text != j->second.text) {
      return name + " differs at " + first_different_line(i->second.text, j->second.text);
    }
    ++i;
    ++j;
  }
  return std::nullopt;
}

}  // namespace

request create_vantle(const std::string& doc_id, const std::string& i_am,
                      const std::string& vantle_type) {
  return {"flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9"
          "&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave"
          "&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name"
          "&doc_id=" + doc_id + "&i_am=" + i_am + "&i_love=%21&i_hate=%21&i_behave=%21"
          "&i_keyword=gears%23%21&i_comment=notes%23%21&vantle_type=" + vantle_type +
          "&sym_name=" + doc_id,
          {}};
}

request to_vantle(const std::string& msg_type, int id, const std::string& content) {
  std::string q = "flag=old&ic_type=VANTLE&ic_id_list=" + std::to_string(id) +
                  "&message_type=" + msg_type;
  if (!content.empty()) q += "&content=" + content;
  return {q, {}};
}

request system_message(const std::string& msg_type, const std::string& content) {
  std::string q = "flag=orv&message_type=" + msg_type;
  if (!content.empty()) q += "&content=" + content;
  return {q, {}};
}

namespace {

std::string inbox_name(int seq) { return "north17000000" + std::to_string(10 + seq % 90); }

}  // namespace

incoming_file incoming_show(int seq, int id) {
  return {inbox_name(seq), "2\n0\n1\n0\n200\n\nVANTLE\n\nsrv2\neast\nVANTLE\n7\ns\nsrv1\nnorth\nVANTLE\n" +
                               std::to_string(id) + "\ns\n0\nshow\n"};
}

incoming_file incoming_move(int seq, const std::string& i_am) {
  return {inbox_name(seq),
          "2\n0\n2\n0\n2\n\nVANTLE\n\nsrv2\neast\nVANTLE\n7\ns\nsrv1\nnorth\nVANTLE\n-1\ns\n0\n"
          "Info_Gathering|doc-e7|" + i_am + "|!|!|!|gears#!|notes#!|east|7\n"};
}

site_files files_for(const std::string& store) {
  site_files f;
  f.store = store;
  long long largest = 0;
  std::vector<std::string> lines = lines_of(store);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("id: ", 0) != 0) continue;
    char* end = nullptr;
    long long id = std::strtoll(lines[i].c_str() + 4, &end, 10);
    if (end == lines[i].c_str() + 4 || id <= 0 || id > 1000000) continue;
    largest = std::max(largest, id);
    std::string name;
    for (size_t k = i + 1; k < lines.size() && k < i + 7; ++k) {
      if (lines[k].rfind("ic symbolic name: ", 0) == 0) name = lines[k].substr(18);
    }
    const std::string n = std::to_string(id);
    f.name_db += n + "\n" + (name.empty() ? "*** (no symbolic name)" : name) +
                 "\nsrv1\nnorth\nVANTLE\n" + n + "\ns\n";
    if (!name.empty()) f.vantle_db += name + "\ndoc-" + n + "\n";
  }
  f.id_counter = std::to_string(largest + 1);
  return f;
}

std::string scratch_directory() {
  std::string base = "/dev/shm";
  struct stat st;
  if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(base.c_str(), W_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && *tmp ? tmp : "/tmp";
  }
  std::string pattern = base + "/orv-differential-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a directory in " + base);
  return pattern;
}

site_pair::site_pair(std::string root) : root_(std::move(root)) {}

void site_pair::lay_out(const site_files& files) {
  for (const std::string& site : {full_site(), lazy_site()}) {
    const std::string html = site + "/html";
    fs::remove_all(site);
    for (const char* dir : {"", "/BACKUP", "/inbox", "/outbox"}) {
      fs::create_directories(html + dir);
    }
    for (const auto& [name, text] : sample_files()) write_text(html + "/" + name, text);
    write_text(html + "/file.ic", files.store);
    write_text(html + "/name_db", files.name_db);
    write_text(html + "/vantle_db", files.vantle_db);
    write_text(html + "/ic_id_counter", files.id_counter);
    // A pick-up first runs the fetch script; the incoming files are in
    // place already.
    write_text(html + "/orv_ftp_get.cmd", "#!/bin/sh\nexit 0\n");
    ::chmod((html + "/orv_ftp_get.cmd").c_str(), 0755);
  }
}

std::optional<std::string> site_pair::run(const request& rq) {
  outcome full = run_orv(full_site(), rq, engine::store_reading::full);
  outcome lazy = run_orv(lazy_site(), rq, engine::store_reading::lazy);
  last_page_ = full.page;
  last_status_ = full.status;
  if (full.status != lazy.status) {
    return "the runs end differently: full " + full.status + ", lazy " + lazy.status;
  }
  if (full.page != lazy.page) return "the page differs at " + first_different_line(full.page, lazy.page);
  return tree_difference(full_site() + "/html", lazy_site() + "/html");
}

std::optional<std::string> compare(site_pair& pair, const site_files& files,
                                   const std::vector<request>& requests,
                                   const std::function<void(size_t, const site_pair&)>& check) {
  std::optional<std::string> difference;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::time_t start = std::time(nullptr);
    pair.lay_out(files);
    difference.reset();
    for (size_t i = 0; i < requests.size() && !difference; ++i) {
      if (std::optional<std::string> d = pair.run(requests[i])) {
        difference = "request " + std::to_string(i + 1) + " (" + requests[i].query + "): " + *d;
      } else if (check) {
        check(i, pair);
      }
    }
    if (!difference || std::time(nullptr) == start) break;
  }
  return difference;
}

}  // namespace differential
