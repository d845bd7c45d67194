#include "tests/differential/site_pair.h"

#include <fcntl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "engine/cell_store.h"
#include "engine/engine.h"
#include "engine/store_fingerprint.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "programs/orv/driver.h"

namespace differential {
namespace {

// The files are read, written and listed with plain system calls: a fuzz
// target lays out, runs and compares two sites many times a second, and
// the buffers of streams and directory handles would cost more than the
// runs themselves.

std::string read_text(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot read " + path);
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t have = 0;
  char more[512];  // what a file that grew since fstat holds beyond its size
  for (;;) {
    const bool sized = have < text.size();
    ssize_t n = sized ? ::read(fd, text.data() + have, text.size() - have)
                      : ::read(fd, more, sizeof more);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (!sized) text.append(more, static_cast<size_t>(n));
    have += static_cast<size_t>(n);
  }
  ::close(fd);
  text.resize(have);
  return text;
}

void write_text(const std::string& path, const std::string& text, mode_t mode = 0644) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  for (size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw std::runtime_error("cannot write " + path);
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

// The entries of `dir` (without "." and ".."), each with whether it is a
// directory.
std::vector<std::pair<std::string, bool>> entries_of(const std::string& dir) {
  std::vector<std::pair<std::string, bool>> found;
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return found;
  alignas(8) char buf[4096];
  for (;;) {
    long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* d = reinterpret_cast<const struct dirent64*>(buf + at);
      at += d->d_reclen;
      const std::string name = d->d_name;
      if (name == "." || name == "..") continue;
      bool is_dir = d->d_type == DT_DIR;
      if (d->d_type == DT_UNKNOWN) {
        struct stat st;
        is_dir = ::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      found.emplace_back(name, is_dir);
    }
  }
  ::close(fd);
  return found;
}

// Removes `path` and everything below it.
void remove_tree(const std::string& path) {
  for (const auto& [name, is_dir] : entries_of(path)) {
    const std::string p = path + "/" + name;
    if (is_dir) {
      remove_tree(p);
    } else {
      ::unlink(p.c_str());
    }
  }
  ::rmdir(path.c_str());
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

// The permission bits of `path` and whether it is a directory; none when
// it is gone.
std::optional<std::pair<unsigned, bool>> kind_of(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(static_cast<unsigned>(st.st_mode & 07777u), S_ISDIR(st.st_mode));
}

// The hint beside `BACKUP` names the next free backup number and a stamp
// of the folder (device, inode, time), which differs between any two
// sites: the stamp is compared by whether it is that of the site's own
// `BACKUP` as it is now, which makes the hint hold.
bool is_backup_hint(const std::string& rel) {
  return rel.starts_with("BACKUP.") && rel.size() > 12 &&
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

// The fingerprint beside the store, without the blocks it has a load read
// in full: the full reading reaches every cell, so its save names them
// all; the rest must be the same.
bool is_fingerprint(const std::string& rel) { return rel == engine::fingerprint_file; }

std::string comparable_fingerprint(const std::string& text) {
  size_t end = 0;
  for (int line = 0; line < 4 && end != std::string::npos; ++line) {
    end = text.find('\n', end);
    if (end != std::string::npos) ++end;
  }
  return end == std::string::npos ? text : text.substr(0, end) + "(the blocks read in full)\n";
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

// The first difference between `full`/`rel` and `lazy`/`rel`, and all
// below them, in the order of the sorted names.
std::optional<std::string> tree_difference(const std::string& full, const std::string& lazy,
                                           const std::string& rel) {
  auto sorted = [&rel](const std::string& root) {
    std::vector<std::pair<std::string, bool>> e = entries_of(rel.empty() ? root : root + "/" + rel);
    std::sort(e.begin(), e.end());
    return e;
  };
  const std::vector<std::pair<std::string, bool>> a = sorted(full);
  const std::vector<std::pair<std::string, bool>> b = sorted(lazy);
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() || j < b.size()) {
    if (j == b.size() || (i < a.size() && a[i].first < b[j].first)) {
      return "html/" + (rel.empty() ? "" : rel + "/") + a[i].first + " is only in the full site";
    }
    if (i == a.size() || b[j].first < a[i].first) {
      return "html/" + (rel.empty() ? "" : rel + "/") + b[j].first + " is only in the lazy site";
    }
    const std::string r = rel.empty() ? a[i].first : rel + "/" + a[i].first;
    const std::string name = "html/" + r;
    std::optional<std::pair<unsigned, bool>> x = kind_of(full + "/" + r);
    std::optional<std::pair<unsigned, bool>> y = kind_of(lazy + "/" + r);
    if (!x || !y) return name + " went away while it was compared";
    if (x->second != y->second) return name + " is a directory in one site only";
    if (x->first != y->first) {
      char modes[64];
      std::snprintf(modes, sizeof modes, "full %04o, lazy %04o", x->first, y->first);
      return name + " has other permissions: " + modes;
    }
    if (x->second) {
      if (std::optional<std::string> d = tree_difference(full, lazy, r)) return d;
    } else {
      std::string p = read_text(full + "/" + r);
      std::string q = read_text(lazy + "/" + r);
      if (is_backup_hint(r)) {
        p = comparable_hint(full, p);
        q = comparable_hint(lazy, q);
      }
      if (is_fingerprint(r)) {
        p = comparable_fingerprint(p);
        q = comparable_fingerprint(q);
      }
      if (p != q) return name + " differs at " + first_different_line(p, q);
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
      if (lines[k].starts_with("ic symbolic name: ")) name = lines[k].substr(18);
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
  runs_ = 0;
  for (const std::string& site : {full_site(), lazy_site()}) {
    const std::string html = site + "/html";
    remove_tree(site);
    for (const char* dir : {"", "/html", "/html/BACKUP", "/html/inbox", "/html/outbox"}) {
      if (::mkdir((site + dir).c_str(), 0755) != 0) {
        throw std::runtime_error("cannot make " + site + dir);
      }
    }
    for (const auto& [name, text] : sample_files()) write_text(html + "/" + name, text);
    write_text(html + "/file.ic", files.store);
    write_text(html + "/name_db", files.name_db);
    write_text(html + "/vantle_db", files.vantle_db);
    write_text(html + "/ic_id_counter", files.id_counter);
    // A pick-up first runs the fetch script; the incoming files are in
    // place already.
    write_text(html + "/orv_ftp_get.cmd", "#!/bin/sh\nexit 0\n", 0755);
  }
}

std::optional<std::string> site_pair::run(const request& rq) {
  // The lazy site reads the store both ways in turn: the second, fourth,
  // ... request finds the fingerprint the save before it left, and trusts
  // the store; for the others the fingerprint is held aside (and put back
  // when the run saves nothing), so the store is read in full.
  const std::string print = lazy_site() + "/html/" + engine::fingerprint_file;
  const std::string held = root_ + "/held.fingerprint";
  const bool trusting = ++runs_ % 2 == 0;
  if (!trusting && ::rename(print.c_str(), held.c_str()) != 0 && errno != ENOENT) {
    throw std::runtime_error("cannot hold " + print + " aside");
  }
  outcome full = run_orv(full_site(), rq, engine::store_reading::full);
  outcome lazy = run_orv(lazy_site(), rq, engine::store_reading::lazy);
  if (!trusting && !kind_of(print) && kind_of(held) && ::rename(held.c_str(), print.c_str()) != 0) {
    throw std::runtime_error("cannot put " + print + " back");
  }
  ::unlink(held.c_str());
  last_page_ = full.page;
  last_status_ = full.status;
  if (full.status != lazy.status) {
    return "the runs end differently: full " + full.status + ", lazy " + lazy.status;
  }
  if (full.page != lazy.page) return "the page differs at " + first_different_line(full.page, lazy.page);
  if (kind_of(print)) {
    // A fingerprint that does not match its store would have the next
    // load trust a text no save wrote.
    std::optional<engine::store_fingerprint> f = engine::store_fingerprint::parse(read_text(print));
    if (!f) return std::string("the lazy site's fingerprint does not read");
    if (!f->matches(read_text(lazy_site() + "/html/file.ic"))) {
      return std::string("the lazy site's fingerprint does not match its store");
    }
  }
  return tree_difference(full_site() + "/html", lazy_site() + "/html", "");
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
