// `orvsite check`: access for the web server's user, and agreement between
// the site's files.
#include "programs/orvsite/site_audit.h"

#include <algorithm>
#include <set>

#include "engine/cell_store.h"
#include "exchange/exchange.h"
#include "platform/site_file.h"
#include "programs/orvsite/site_files.h"
#include "site/naming.h"
#include "site/naming_counters.h"
#include "site/run_journal.h"
#include "site/vantle.h"
#include "text/text.h"

namespace orvsite {

bool may(const platform::user_account& user, const platform::entry_access& a, unsigned want) {
  if (user.uid == 0) return !(want & 1) || a.directory || (a.mode & 0111) != 0;
  unsigned bits;
  if (a.owner == user.uid) {
    bits = (a.mode >> 6) & 7;
  } else if (std::find(user.groups.begin(), user.groups.end(), a.group) != user.groups.end()) {
    bits = (a.mode >> 3) & 7;
  } else {
    bits = a.mode & 7;
  }
  return (bits & want) == want;
}

namespace {

std::string octal(unsigned mode) {
  std::string s;
  for (int shift = 9; shift >= 0; shift -= 3) s += static_cast<char>('0' + ((mode >> shift) & 7));
  return s;
}

// "read", "read and write", "enter", ... for the bits of `want`.
std::string needs(unsigned want, bool directory) {
  std::vector<std::string> words;
  if (want & 4) words.push_back(directory ? "list" : "read");
  if (want & 2) words.push_back(directory ? "write in" : "write");
  if (want & 1) words.push_back(directory ? "enter" : "run");
  std::string s;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i) s += i + 1 == words.size() ? " and " : ", ";
    s += words[i];
  }
  return s;
}

class access_audit {
 public:
  access_audit(const std::string& dir, const platform::user_account& user,
               std::vector<site_problem>* problems)
      : dir_(dir), user_(user), problems_(problems) {}

  // `rel` (below the site directory) must allow `want` to the user; a
  // missing entry is fine unless `required`.
  void need(const std::string& rel, unsigned want, bool required = false) {
    std::string path = rel.empty() ? dir_ : join(dir_, rel);
    std::optional<platform::entry_access> a = platform::access_of(path);
    if (!a) {
      if (required) add(rel, "missing");
      return;
    }
    if (a->symlink) return;  // judged by what it points to, elsewhere
    // A directory where a file belongs is told by the consistency checks.
    if (a->directory && !(want & 1)) return;
    if (may(user_, *a, want)) return;
    std::string mend;
    const char* recursive = a->directory ? "-R " : "";
    if (a->owner != user_.uid && user_.uid != 0) {
      mend = std::string("chown ") + recursive + user_.name + ": " + path;
    } else {
      std::string who = "u+";
      if (want & 4) who += "r";
      if (want & 2) who += "w";
      if ((want & 1) || (a->directory && (want & 4))) who += "x";
      mend = "chmod " + who + " " + path;
    }
    add(rel, "the web server's user " + user_.name + " cannot " + needs(want, a->directory) +
                 " it (owner " + platform::user_name(a->owner) + ", mode " + octal(a->mode) +
                 "); to mend: " + mend);
  }

  // A private key: readable by the user, by nobody else.
  void key(const std::string& rel) {
    need(rel, 4);
    std::string path = join(dir_, rel);
    std::optional<platform::entry_access> a = platform::access_of(path);
    if (a && a->regular && (a->mode & 077) != 0) {
      add(rel, "a private key that others may read (mode " + octal(a->mode) +
                   "; ssh refuses it); to mend: chmod 600 " + path);
    }
  }

  void run() {
    // The way in: every directory above the site must let the user pass.
    std::string abs = absolute(dir_);
    for (size_t at = abs.find('/', 1); at != std::string::npos; at = abs.find('/', at + 1)) {
      std::string up = abs.substr(0, at);
      std::optional<platform::entry_access> a = platform::access_of(up);
      if (a && a->directory && !may(user_, *a, 1)) {
        problems_->push_back({up, "the web server's user " + user_.name +
                                      " cannot enter it (owner " + platform::user_name(a->owner) +
                                      ", mode " + octal(a->mode) + "); to mend: chmod o+x " + up});
      }
    }
    need("", 1);
    for (const std::string& program : programs()) need(program, 4 | 1);
    need(html_dir, 4 | 2 | 1, true);
    for (const char* d : {exchange::inbox_dir, exchange::outbox_dir, engine::backup_dir,
                          exchange::rejected_dir, exchange::staging_dir, exchange::held_dir,
                          ".incoming", ".inbox-staging", ".inbox-link", ".outbox-local", "log"}) {
      need(in_html(d), 4 | 2 | 1);
    }
    for (const char* d : {"zoaml", "ssh"}) need(in_html(d), 4 | 1);
    need(in_html("ssh/control"), 4 | 2 | 1);  // the sockets of kept connections
    for (const char* f : {"config.txt", engine::store_file, site::name_db_file,
                          site::vantle_db_file, site::ic_id_counter_file, site::name_counter_file,
                          "dump_file", "run.lock", site::journal_file, "exchange.reported",
                          "exchange.state", "exchange.lock", "log/exchange.log",
                          "BACKUP.file.ic.next"}) {
      need(in_html(f), 4 | 2);
    }
    for (const char* f : {"site.config", "kb.txt", "orv_hosts", "ssh/known_hosts"}) {
      need(in_html(f), 4);
    }
    for (const std::string& f : files_ending_with(join(dir_, html_dir), ".in")) need(in_html(f), 4);
    for (const std::string& f : files_ending_with(join(dir_, page_dir), ".zoaml")) {
      need(join(page_dir, f), 4);
    }
    for (const char* f : {exchange::get_script, exchange::put_script}) need(in_html(f), 4 | 1);
    need(in_html("orv_ssh_link.sh"), 4);
    need(in_html("orv_ssh_serve.sh"), 4 | 1);  // a peer's forced command
    for (const char* d : {exchange::inbox_dir, exchange::outbox_dir, engine::backup_dir,
                          exchange::held_dir}) {
      for (const std::string& f : platform::list_file_names(join(dir_, in_html(d)))) {
        need(join(in_html(d), f), 4);
      }
    }
    for (const std::string& f : platform::list_file_names(join(dir_, in_html("ssh")))) {
      if (f == "known_hosts" || f.starts_with("known_hosts") || f == "authorized_keys" ||
          f == "config" || (f.size() > 4 && f.compare(f.size() - 4, 4, ".pub") == 0)) {
        continue;
      }
      key(join(in_html("ssh"), f));
    }
  }

 private:
  static std::string in_html(const std::string& f) { return join(html_dir, f); }

  // The programs the web server runs: vexil and every manager the pages
  // name (orv.cgi when they name none), as far as they are there.
  std::vector<std::string> programs() const {
    std::set<std::string> names = {vexil_name, default_manager};
    for (const std::string& n : manager_names(join(dir_, page_dir))) names.insert(n);
    return {names.begin(), names.end()};
  }

  void add(const std::string& rel, std::string what) {
    problems_->push_back({rel.empty() ? "." : rel, std::move(what)});
  }

  std::string dir_;
  const platform::user_account& user_;
  std::vector<site_problem>* problems_;
};

}  // namespace

void audit_access(const std::string& dir, const platform::user_account& user,
                  std::vector<site_problem>* problems) {
  access_audit(dir, user, problems).run();
}

void audit_consistency(const std::string& dir, const std::string& orv_id, const stored_ids& ids,
                       std::vector<site_problem>* problems) {
  auto add = [&](const std::string& file, std::string what) {
    problems->push_back({join(html_dir, file), std::move(what)});
  };
  auto path = [&](const std::string& file) { return join(join(dir, html_dir), file); };

  // The next id must be above every id in use.
  std::int32_t highest = 0;
  for (std::int32_t id : ids.cells) highest = std::max(highest, id);
  for (std::int32_t id : ids.named) highest = std::max(highest, id);
  std::string counter_err;
  if (std::optional<std::string> text =
          platform::read_site_file(path(site::ic_id_counter_file), &counter_err, 4096)) {
    long long next = site::counter_value(*text, nullptr);
    if (next >= 1 && next <= highest) {
      add(site::ic_id_counter_file,
          "the next id " + std::to_string(next) + " is not above the highest id in use " +
              std::to_string(highest) + " (the next new cell would reuse an id); to mend: echo " +
              std::to_string(highest + 1) + " > " + path(site::ic_id_counter_file));
    }
  }

  // Every stored cell got its id from name_db, and every named vantle its
  // name from vantle_db. (Records of deleted cells stay: names are never
  // given twice.)
  if (ids.store_read && ids.name_db_read) {
    std::set<std::int32_t> named(ids.named.begin(), ids.named.end());
    std::vector<std::int32_t> unnamed;
    for (std::int32_t id : ids.cells) {
      if (!named.count(id)) unnamed.push_back(id);
    }
    if (!unnamed.empty()) {
      std::string list;
      for (size_t i = 0; i < unnamed.size() && i < 10; ++i) {
        list += (i ? ", " : "") + std::to_string(unnamed[i]);
      }
      if (unnamed.size() > 10) list += ", ...";
      add(site::name_db_file,
          "has no record of the stored cell(s) " + list +
              " (a name_db older than file.ic): their names may be given again; to mend: "
              "restore name_db, ic_id_counter and vantle_db from the same backup as file.ic");
    }
  }
  if (ids.store_read && ids.vantle_db_read) {
    std::set<std::string> registered(ids.registered_vantles.begin(), ids.registered_vantles.end());
    for (const std::string& name : ids.vantle_names) {
      if (name.empty() || registered.count(name)) continue;
      add(site::vantle_db_file,
          "lacks the name \"" + name + "\" of a stored vantle (a vantle_db older than file.ic): "
          "it may be given again; to mend: restore vantle_db from the same backup as file.ic");
    }
  }

  // Files in inbox that pick-up never takes.
  if (!orv_id.empty()) {
    for (const std::string& f : platform::list_file_names(path(exchange::inbox_dir))) {
      if (text::lower(f).starts_with(text::lower(orv_id))) continue;
      std::string file = join(exchange::inbox_dir, f);
      add(file, "not addressed to this site (its name does not begin with the orv id " + orv_id +
                    "): pick-up never takes it; to mend: mv " + path(file) + " " +
                    path(exchange::rejected_dir) + "/");
    }
  }

  // A store that is a second name of a backup copy: writing it in place
  // (cp, a redirection) would change that copy too.
  if (std::optional<std::string> store = platform::file_identity(path(engine::store_file))) {
    for (const std::string& f : platform::list_file_names(path(engine::backup_dir))) {
      std::string copy = join(engine::backup_dir, f);
      if (platform::file_identity(path(copy)) != store) continue;
      add(engine::store_file,
          "shares its storage with the backup copy " + join(html_dir, copy) +
              " (a copy over file.ic would change it); to mend: cp -p " + path("file.ic") + " " +
              path("file.ic.own") + " && mv " + path("file.ic.own") + " " + path("file.ic"));
    }
  }

  // A backup hint that names a taken number.
  const std::string hint = std::string(engine::backup_dir) + "." + engine::store_file + ".next";
  std::string hint_err;
  if (std::optional<std::string> text = platform::read_site_file(path(hint), &hint_err, 4096)) {
    std::string first = text->substr(0, text->find('\n'));
    if (!first.empty() && first.size() < 10 &&
        first.find_first_not_of("0123456789") == std::string::npos) {
      std::string named = join(engine::backup_dir, std::string(engine::store_file) + ".b" + first);
      if (platform::exists(path(named))) {
        add(hint, "names the backup number " + first + ", which " + named +
                      " holds already; to mend: rm " + path(hint) +
                      " (the next save finds the number again)");
      }
    }
  }

  // The run journal must be a file.
  if (std::optional<platform::entry_access> a = platform::access_of(path(site::journal_file))) {
    if (!a->regular) {
      add(site::journal_file, "is not a regular file; to mend: mv " + path(site::journal_file) +
                                  " " + path("run.journal.aside"));
    }
  }
}

}  // namespace orvsite
