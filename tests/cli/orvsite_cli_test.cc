// Black-box tests of orvsite, the operator's command, on sites laid out in
// fresh temporary directories.
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string samples = SAMPLES_DIR;

// `config.txt` of a site laid out by `orvsite new` with the ids srv1 and
// north: the thresholds of the sample sites, no e-mail address.
const std::string new_north_config =
    "server id: srv1\norv id: north\nretrieval threshold: 1\n"
    "virtual site distance threshold: 9\nmax. vantle# threshold: 3\nemail address: NULL\n";

// What `orvsite new` says after "Laid out ...": the site's cron line, which
// runs its exchange at `second` of every minute.
std::string cron_note(int second, const std::string& dir) {
  return "Its exchange every minute from cron (/etc/cron.d), at a second of its own:\n"
         "  * * * * * www-data sleep " + std::to_string(second) + "; " +
         std::filesystem::canonical(test_util::program_path("orvsite")).string() +
         " exchange --keep 500 " + dir + "\n";
}

run_result orvsite(const std::vector<std::string>& args, const std::string& dir = "/") {
  return test_util::run_program_args(test_util::program_path("orvsite"), args, dir, {});
}

// The manager page's create form for a vantle of `type` about `i_am`.
std::string create_form(const std::string& doc_id, const std::string& i_am,
                        const std::string& type, const std::string& name) {
  return "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9"
         "&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave"
         "&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name"
         "&doc_id=" + doc_id + "&i_am=" + i_am +
         "&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21"
         "&i_comment=notes%23%21&vantle_type=" + type + "&sym_name=" + name;
}

// Two sample sites, north and east, side by side as on one machine, each
// with orv installed as orv.cgi and the sample transfer scripts.
class OrvsiteExchange : public ::testing::Test {
 protected:
  OrvsiteExchange() {
    for (const char* site : {"north", "east"}) {
      std::string html = root_ / (std::string(site) + "/html");
      std::filesystem::create_directories(html);
      for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) copy(samples + "/" + f, html + "/" + f);
      copy(samples + "/" + site + "/config.txt", html + "/config.txt");
      for (const char* f : {"orv_ftp_get.cmd", "orv_ftp_put.cmd"}) {
        copy(samples + "/" + f, html + "/" + f);
        ::chmod((html + "/" + f).c_str(), 0755);
      }
      std::filesystem::copy_file(test_util::program_path("orv"), site_dir(site) + "/orv.cgi");
    }
  }

  static void copy(const std::string& from, const std::string& to) {
    std::optional<std::string> text = read_file(from);
    ASSERT_TRUE(text) << from;
    write_file(to, *text);
  }

  std::string site_dir(const std::string& site) { return root_ / site; }

  run_result get(const std::string& site, const std::string& query) {
    return test_util::run_program(site_dir(site) + "/orv.cgi", site_dir(site),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  test_util::scoped_temp_dir root_;
};

TEST_F(OrvsiteExchange, SendsThenPicksUpAndIsQuietWhenNothingMoves) {
  // An information-gathering vantle of north asks east: one file in outbox.
  ASSERT_EQ(0, get("north", create_form("q-1", "mechanics%23%21", "Info_Gathering", "ask")).status);
  ASSERT_EQ(1u, test_util::list_dir(site_dir("north") + "/html/outbox").size());

  run_result sent = orvsite({"exchange", site_dir("north")});
  EXPECT_EQ(0, sent.status) << sent.err;
  EXPECT_EQ(site_dir("north") + ": sent 1 message, picked up 0 messages\n", sent.out);
  EXPECT_TRUE(test_util::list_dir(site_dir("north") + "/html/outbox").empty());

  // As a pick-up killed after it took the file out of inbox leaves it: the
  // exchange must still pick up, though inbox holds nothing.
  std::string inbox = site_dir("east") + "/html/inbox";
  std::string held = site_dir("east") + "/html/inbox.taken";
  std::vector<std::string> arrived = test_util::list_dir(inbox);
  ASSERT_EQ(1u, arrived.size());
  ASSERT_EQ(0, ::mkdir(held.c_str(), 0755));
  ASSERT_EQ(0, ::rename((inbox + "/" + arrived[0]).c_str(), (held + "/" + arrived[0]).c_str()));
  run_result picked = orvsite({"exchange", site_dir("east")});
  EXPECT_EQ(0, picked.status) << picked.err;
  EXPECT_EQ(site_dir("east") + ": sent 0 messages, picked up 1 message\n", picked.out);
  EXPECT_TRUE(test_util::list_dir(inbox).empty());
  EXPECT_TRUE(test_util::list_dir(held).empty());

  run_result quiet = orvsite({"exchange", site_dir("north")});
  EXPECT_EQ(0, quiet.status) << quiet.err;
  EXPECT_EQ("", quiet.out);
  EXPECT_EQ("", quiet.err);
}

TEST_F(OrvsiteExchange, ARelativeSiteAndKeptBackupsOnASchedule) {
  // An idle site picks nothing up: no save, no backup copy.
  for (int round = 0; round < 2; ++round) {
    run_result r = orvsite({"exchange", "--keep", "2", "east"}, root_.path());
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.out);
  }
  EXPECT_TRUE(test_util::list_dir(site_dir("east") + "/html/BACKUP").empty());
  // The site named from its parent directory, as an operator types it; each
  // round that picks up files a backup, of which --keep leaves the newest two.
  for (int round = 0; round < 4; ++round) {
    std::string doc = "q-" + std::to_string(round);
    ASSERT_EQ(0, get("north", create_form(doc, "mechanics%23%21", "Info_Gathering", "ask-" + doc)).status);
    ASSERT_EQ(0, orvsite({"exchange", "north"}, root_.path()).status);
    run_result r = orvsite({"exchange", "--keep", "2", "east"}, root_.path());
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("picked up 1 message")) << r.out;
  }
  EXPECT_EQ(2u, test_util::list_dir(site_dir("east") + "/html/BACKUP").size());
  run_result bad = orvsite({"exchange", "--keep", "0", "north"}, root_.path());
  EXPECT_EQ(2, bad.status);
}

TEST_F(OrvsiteExchange, AKnownWarningAboutStoredCellsGoesOutOnceADay) {
  // A vantle whose keyword kb.txt no longer has: every load warns.
  ASSERT_EQ(0, get("east", create_form("d1", "optics%23%21", "Archives", "v1")).status);
  std::string kb = site_dir("east") + "/html/kb.txt";
  std::string text = read_file(kb).value_or("");
  size_t at = text.find("optics");
  ASSERT_NE(std::string::npos, at);
  write_file(kb, text.replace(at, 6, "lenses"));
  const std::string warning = site_dir("east") + ": Error: key word optics not found\n";
  // A get script of the operator's own, which may fetch: every exchange
  // picks up, and so loads the cells.
  write_file(site_dir("east") + "/html/orv_ftp_get.cmd", "#!/bin/sh\nexit 0\n");

  run_result first = orvsite({"exchange", site_dir("east")});
  EXPECT_EQ(0, first.status);
  EXPECT_EQ("", first.out);
  EXPECT_NE(std::string::npos, first.err.find(warning)) << first.err;
  run_result second = orvsite({"exchange", site_dir("east")});
  EXPECT_EQ("", second.out + second.err) << "the same warning again the same day";

  // A damaged note, or one of another day, lets it out once more.
  const std::string note = site_dir("east") + "/html/exchange.reported";
  for (const std::string& damaged : {std::string("\0\t\n\n", 4), std::string("2001-01-01\t") +
                                         "Error: key word optics not found\n"}) {
    write_file(note, damaged);
    run_result again = orvsite({"exchange", site_dir("east")});
    EXPECT_EQ(0, again.status);
    EXPECT_NE(std::string::npos, again.err.find(warning)) << again.err;
    EXPECT_EQ("", orvsite({"exchange", site_dir("east")}).err);
  }
}

TEST_F(OrvsiteExchange, AFailingManagerFailsTheExchange) {
  write_file(site_dir("east") + "/html/file.ic", "not a store\n");
  write_file(site_dir("east") + "/html/inbox/east17000000000", "a message\n");
  run_result r = orvsite({"exchange", site_dir("east")});
  EXPECT_EQ(1, r.status);
  // The manager's page says why, on standard error for the scheduler's log.
  EXPECT_NE(std::string::npos,
            r.err.find("ended with status 1 on message_type=SYS_PICK_UP_MSG&flag=orv\n"
                       "  The cell store file.ic is damaged at line 1: "))
      << r.err;
}

TEST_F(OrvsiteExchange, ADirectoryWithoutASiteIsRefused) {
  run_result r = orvsite({"exchange", root_.path()});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("orvsite exchange: " + root_.path() + " is not a site (no " + root_.path() +
                "/html/config.txt)\n",
            r.err);
}

}  // namespace

namespace {

// A site laid out by `orvsite new` from the source tree's samples (the
// orvsite of the build tree takes them from there).
class OrvsiteSite : public ::testing::Test {
 protected:
  OrvsiteSite() {
    run_result r = orvsite({"new", dir(), "--server-id", "srv1", "--orv-id", "north"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("Laid out the site north (server id srv1) in " + dir() + "; its manager: orv.cgi\n" +
                  cron_note(8, dir()),
              r.out);
  }

  std::string dir() const { return root_ / "north"; }

  // A private key and known hosts in html/ssh, as a site that sends over
  // SSH holds them.
  // The store as a file of its own, not a second name of its backup copy
  // (as sites saved by older programs hold it).
  void own_store() {
    write_file(html("file.ic.own"), read_file(html("file.ic")).value_or(""));
    std::filesystem::rename(html("file.ic.own"), html("file.ic"));
  }

  void install_key() {
    std::filesystem::create_directories(html("ssh"));
    write_file(html("ssh/id_ed25519"), "key\n");
    ::chmod(html("ssh/id_ed25519").c_str(), 0600);
    write_file(html("ssh/known_hosts"), "host\n");
  }
  std::string html(const std::string& rel) const { return dir() + "/html/" + rel; }

  run_result get(const std::string& program, const std::string& query) {
    return test_util::run_program(dir() + "/" + program, dir(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  // Makes the vantle v1 through the manager, as its create form does.
  void make_vantle() {
    run_result r = get("orv.cgi", create_form("d1", "physics%23%21", "Archives", "v1"));
    ASSERT_EQ(0, r.status);
    ASSERT_NE(std::string::npos, r.out.find("vantle(1)=doc {d1}")) << r.out;
  }

  // `path` with the first occurrence of `from` replaced by `to`.
  static void edit(const std::string& path, const std::string& from, const std::string& to) {
    std::string text = read_file(path).value_or("");
    size_t at = text.find(from);
    ASSERT_NE(std::string::npos, at) << path << " lacks " << from;
    write_file(path, text.replace(at, from.size(), to));
  }

  test_util::scoped_temp_dir root_;
};

TEST_F(OrvsiteSite, NewSiteServesRequestsAndIsNotLaidOutTwice) {
  make_vantle();
  run_result page = get("vexil.cgi", "zoa_name=orv_manager");
  EXPECT_EQ(0, page.status);
  EXPECT_NE(std::string::npos,
            page.out.find("<FORM ACTION=\"orv.cgi\" METHOD=POST ACCEPT-CHARSET=\"UTF-8\" "
                          "TARGET=\"answer\">"))
      << page.out;
  EXPECT_TRUE(read_file(dir() + "/S-Event_Data/Images/site_map.gif"));
  EXPECT_EQ(new_north_config, read_file(html("config.txt")));

  run_result again = orvsite({"new", dir(), "--server-id", "srv1", "--orv-id", "north"});
  EXPECT_EQ(1, again.status);
  EXPECT_EQ("orvsite new: " + dir() + " holds a site already (" + dir() +
                "/html); orvsite new --update refreshes its programs and pages\n",
            again.err);

  // An update replaces the programs and pages and keeps the data.
  std::string store = read_file(html("file.ic")).value_or("");
  write_file(html("zoaml/orv_manager.zoaml"), "stale");
  run_result update = orvsite({"new", dir(), "--update"});
  EXPECT_EQ(0, update.status) << update.err;
  EXPECT_EQ(store, read_file(html("file.ic")));
  EXPECT_EQ(new_north_config, read_file(html("config.txt")));
  EXPECT_NE("stale", read_file(html("zoaml/orv_manager.zoaml")));
}

TEST_F(OrvsiteSite, PagesNameTheSiteAndTheirManager) {
  // Samples of one's own: a page whose form goes to mgr.cgi and which
  // names its site by the placeholders.
  std::string from = root_ / "samples";
  write_file(from + "/site.config", "1\n0 west\n0\n");
  write_file(from + "/kb.txt", "science\n");
  write_file(from + "/NOTE.in", "0\n1\n1\n1,X1\n0\n0\n0\n0\n");
  write_file(from + "/orv_ftp_get.cmd", "#!/bin/sh\nexit 0\n");
  write_file(from + "/orv_ftp_put.cmd", "#!/bin/sh\nexit 0\n");
  write_file(from + "/html/zoaml/home.zoaml",
             "<ZOA><ZOA_NAME> \"home\" </ZOA_NAME><ZOA_IC> cgi = \"mgr.cgi\" </ZOA_IC></ZOA>\n"
             "<!-- @ORV_ID@ at @SERVER_ID@ -->\n");
  std::string west = root_ / "west";
  run_result r = orvsite({"new", west, "--server-id", "srv7", "--orv-id", "west", "--from", from});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("Laid out the site west (server id srv7) in " + west + "; its manager: mgr.cgi\n" +
                cron_note(54, west),
            r.out);
  EXPECT_NE(std::string::npos,
            read_file(west + "/html/zoaml/home.zoaml").value_or("").find("<!-- west at srv7 -->"));
  EXPECT_FALSE(read_file(west + "/orv.cgi"));
  EXPECT_EQ(read_file(test_util::program_path("orv")), read_file(west + "/mgr.cgi"));
  EXPECT_TRUE(read_file(west + "/html/NOTE.in"));
}

TEST_F(OrvsiteSite, CheckNamesTheDamagedLineOfEachKindOfFile) {
  make_vantle();
  own_store();
  run_result clean = orvsite({"check", dir()});
  EXPECT_EQ(0, clean.status);
  EXPECT_EQ(dir() + ": in order (", clean.out.substr(0, dir().size() + 12)) << clean.out;
  EXPECT_EQ(" files read)\n", clean.out.substr(clean.out.size() - 13)) << clean.out;

  edit(html("config.txt"), "orv id: north", "orv: north");
  write_file(html("site.config"), "2\n0 north\n1 east\n0 4\nx 0\n");
  write_file(html("kb.txt"), "science (\n  physics\n)\n)\n");
  edit(html("VANTLE.in"), "\n", "\n0\n1\n1\n1,X1\n0\n1\n");
  edit(html("file.ic"), "current state: ", "current state: x");
  std::string name_db = read_file(html("name_db")).value_or("");
  write_file(html("name_db"), name_db.substr(0, name_db.size() - 2));
  write_file(html("vantle_db"), "v1\n");
  write_file(html("ic_id_counter"), "2x");
  write_file(html("name_counter"), "-");
  write_file(html("inbox/north17000000000"), "1\n2\n");
  write_file(html("zoaml/broken.zoaml"), "<ZOA>\n<ZOA_NAME> = </ZOA_NAME>\n</ZOA>\n");

  run_result r = orvsite({"check", dir()});
  EXPECT_EQ(1, r.status);
  // One line per file, in this order; each begins with the file and what
  // its reader says (the fg reader names the offending line by its text).
  std::string h = dir() + "/html/";
  const std::vector<std::string> want = {
      h + "config.txt: The configuration file config.txt is damaged: line 2 must begin with "
          "\"orv id: \".",
      h + "site.config: line 5: the distance from site 1 to site 0 is not a number: x",
      h + "kb.txt: line 4: a ')' closes no '('",
      h + "VANTLE.in: ***** Illegal fg functions format",
      h + "file.ic: The cell store file.ic is damaged at line 3: ",
      h + "name_db: line 1: the last record is not complete (6 of its 7 lines)",
      h + "vantle_db: line 1: the last record is not complete (a name without its document id)",
      h + "ic_id_counter: line 1: \"2x\" is not a decimal number",
      h + "name_counter: line 1: \"-\" is not a decimal number",
      h + "inbox/north17000000000: line 3: the file ends before the 19 lines before the content",
      h + "zoaml/broken.zoaml: Syntax Error -- Line:1, Column:13 -- syntax error",
  };
  std::vector<std::string> got;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(want.size(), got.size()) << r.out;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(want[i], got[i].substr(0, want[i].size())) << got[i];
  }
}

// Every entry below `dir` owned by `uid`, as `chown -R` does.
void chown_all(const std::string& dir, uid_t uid, gid_t gid) {
  ASSERT_EQ(0, ::lchown(dir.c_str(), uid, gid));
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    ASSERT_EQ(0, ::lchown(e.path().c_str(), uid, gid)) << e.path();
  }
}

TEST_F(OrvsiteSite, CheckFindsEachOperatorMistakeWithItsMend) {
  // The site as the web server's user www-data runs it; the check runs as
  // whoever calls it (root here) and judges by www-data's rights.
  struct passwd* www = ::getpwnam("www-data");
  if (!www || ::geteuid() != 0) GTEST_SKIP() << "needs root and the user www-data";
  make_vantle();
  own_store();
  install_key();
  ::chmod(root_.path().c_str(), 0755);
  chown_all(dir(), www->pw_uid, www->pw_gid);
  run_result good = orvsite({"check", dir()});
  EXPECT_EQ(0, good.status) << good.out;
  EXPECT_EQ(0u, good.out.find(dir() + ": in order (")) << good.out;

  const std::string h = dir() + "/html/";
  const struct {
    std::function<void()> make;
    std::string line;  // what `check` must say (the start of its line)
  } mistakes[] = {
      // (first: the next one changes the owner of both names)
      {[&] { std::filesystem::remove(html("file.ic"));
             EXPECT_EQ(0, ::link(html("BACKUP/file.ic.b0").c_str(), html("file.ic").c_str())); },
       h + "file.ic: shares its storage with the backup copy html/BACKUP/file.ic.b0"},
      {[&] {
         EXPECT_EQ(0, ::chown(html("file.ic").c_str(), 0, 0));
         ::chmod(html("file.ic").c_str(), 0600);
       },
       h + "file.ic: the web server's user www-data cannot read and write it (owner root, mode "
           "0600); to mend: chown www-data: " + h + "file.ic"},
      {[&] { EXPECT_EQ(0, ::chown(html("inbox").c_str(), 0, 0)); },
       h + "inbox: the web server's user www-data cannot list, write in and enter it (owner "
           "root, mode 0755); to mend: chown -R www-data: " + h + "inbox"},
      {[&] { ::chmod(html("BACKUP").c_str(), 0555); },
       h + "BACKUP: the web server's user www-data cannot list, write in and enter it (owner "
           "www-data, mode 0555); to mend: chmod u+rwx " + h + "BACKUP"},
      {[&] { ::chmod(html("orv_ftp_put.cmd").c_str(), 0644); },
       h + "orv_ftp_put.cmd: the web server's user www-data cannot read and run it"},
      {[&] { ::chmod(html("ssh/id_ed25519").c_str(), 0644); },
       h + "ssh/id_ed25519: a private key that others may read (mode 0644; ssh refuses it); "
           "to mend: chmod 600 " + h + "ssh/id_ed25519"},
      {[&] { write_file(html("ic_id_counter"), "1\n"); },
       h + "ic_id_counter: the next id 1 is not above the highest id in use 1"},
      {[&] { write_file(html("name_db"), ""); },
       h + "name_db: has no record of the stored cell(s) 1 "},
      {[&] { write_file(html("vantle_db"), ""); },
       h + "vantle_db: lacks the name \"v1\" of a stored vantle"},
      {[&] { write_file(html("inbox/east17000000000"), "x"); },
       h + "inbox/east17000000000: not addressed to this site"},
      {[&] { write_file(html("BACKUP.file.ic.next"), "0\n1 2\n"); },
       h + "BACKUP.file.ic.next: names the backup number 0, which BACKUP/file.ic.b0 holds"},
      {[&] { std::filesystem::create_directory(html("run.journal")); },
       h + "run.journal: is not a regular file"},
  };
  for (const auto& m : mistakes) m.make();
  run_result r = orvsite({"check", dir(), "--user", "www-data"});
  EXPECT_EQ(1, r.status);
  for (const auto& m : mistakes) {
    EXPECT_NE(std::string::npos, ("\n" + r.out).find("\n" + m.line)) << m.line << "\n--- got:\n" << r.out;
  }
}

// The problems a check reports, but a store that is a second name of its
// newest backup copy (how orv filed its copies before they became copies
// of their own).
std::string problems(const std::string& text) {
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("file.ic: shares its storage with the backup copy") == std::string::npos &&
        line.find(": in order (") == std::string::npos && line.rfind("restored ", 0) != 0) {
      kept += line + "\n";
    }
  }
  return kept;
}

TEST_F(OrvsiteSite, BackupAndRestoreRoundTripWhileRequestsRun) {
  make_vantle();
  own_store();
  // An owner (only root may give one) and a mode of their own, which the
  // restore keeps.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, ::chown(html("kb.txt").c_str(), 33, 44));
  }
  ASSERT_EQ(0, ::chmod(html("kb.txt").c_str(), 0640));
  // Requests beside the backup and the restore: each makes a vantle.
  std::atomic<bool> stop{false};
  std::atomic<int> made{0};
  std::thread requests([&] {
    for (int k = 0; !stop; ++k) {
      std::string n = std::to_string(k);
      get("orv.cgi", create_form("r" + n, "physics%23%21", "Archives", "r" + n));
      ++made;
    }
  });
  auto wait_for = [&](int count) {
    while (made < count) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  wait_for(2);
  // The socket of a connection the put script keeps open: not archived,
  // and nothing said of it.
  std::filesystem::create_directories(html("ssh/control"));
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  std::string sock_path = html("ssh/control/east");
  ASSERT_LT(sock_path.size(), sizeof at.sun_path);
  std::copy(sock_path.begin(), sock_path.end(), at.sun_path);
  ASSERT_EQ(0, ::bind(sock, reinterpret_cast<sockaddr*>(&at), sizeof at));
  std::string archive = root_ / "north.tar.gz";
  run_result backup = orvsite({"backup", dir(), archive});
  ::close(sock);
  EXPECT_EQ(0, backup.status) << backup.err;
  EXPECT_EQ("", backup.err);
  struct stat st;
  ASSERT_EQ(0, ::stat(archive.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777) << "the archive holds the site's private key";

  // A second site from the archive, where nothing runs: the backed-up data.
  ASSERT_EQ(0, orvsite({"new", root_ / "copy", "--server-id", "s", "--orv-id", "south"}).status);
  run_result copy = orvsite({"restore", root_ / "copy", archive});
  EXPECT_EQ(0u, copy.out.find("restored " + (root_ / "copy/html") + " from " + archive + "\n"))
      << copy.out << copy.err;
  EXPECT_EQ("", problems(copy.out));
  EXPECT_EQ(read_file(html("config.txt")), read_file(root_ / "copy/html/config.txt"));
  struct stat kb;
  ASSERT_EQ(0, ::stat((root_ / "copy/html/kb.txt").c_str(), &kb));
  if (root) {
    EXPECT_EQ(33u, kb.st_uid);
    EXPECT_EQ(44u, kb.st_gid);
  }
  EXPECT_EQ(0640u, kb.st_mode & 0777);
  std::string backed_up = read_file(root_ / "copy/html/vantle_db").value_or("");
  EXPECT_NE(std::string::npos, backed_up.find("r1\n")) << "requests ran before the backup";

  wait_for(made + 2);
  // Names made after the backup: the restore takes them back.
  std::string later = read_file(html("vantle_db")).value_or("").substr(backed_up.size());
  ASSERT_FALSE(later.empty());
  later = later.substr(0, later.find('\n') + 1);
  run_result restore = orvsite({"restore", dir(), archive});
  EXPECT_EQ(0u, restore.out.find("restored ")) << restore.out << restore.err;
  EXPECT_EQ("", problems(restore.out));
  int at_restore = made;
  wait_for(at_restore + 2);
  stop = true;
  requests.join();

  // The site went on from exactly the backed-up data: its names begin with
  // those of the archive, and the requests since then left it in order.
  std::string now = read_file(html("vantle_db")).value_or("");
  EXPECT_EQ(backed_up, now.substr(0, backed_up.size()));
  EXPECT_GT(now.size(), backed_up.size());
  EXPECT_EQ(std::string::npos, now.find("\n" + later)) << later << " came back";
  run_result after = orvsite({"check", dir()});
  EXPECT_EQ("", problems(after.out));
}

// Every entry below `dir` but the run lock: its path, and its text, "dir"
// or where it links to.
std::map<std::string, std::string> tree_of(const std::string& dir) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    std::string rel = fs::relative(e.path(), dir).string();
    if (rel == "run.lock") continue;
    if (e.is_symlink()) {
      tree[rel] = "-> " + fs::read_symlink(e.path()).string();
    } else if (e.is_directory()) {
      tree[rel] = "dir";
    } else {
      tree[rel] = read_file(e.path().string()).value_or("?");
    }
  }
  return tree;
}

// The entries of the site directory `dir` that a restore leaves beside html.
std::vector<std::string> restore_leftovers(const std::string& dir) {
  std::vector<std::string> left;
  for (const std::string& name : test_util::list_dir(dir)) {
    if (name.rfind(".restore", 0) == 0) left.push_back(name);
  }
  return left;
}

TEST_F(OrvsiteSite, RestoreRefusesEntriesThatAreNotPlainFilesInsideHtml) {
  namespace fs = std::filesystem;
  make_vantle();
  own_store();
  const std::map<std::string, std::string> before = tree_of(html(""));
  const std::string outside = root_ / "outside";
  write_file(outside, "not the site's\n");
  struct odd_archive {
    std::string entry;                                // what the refusal names
    std::function<void(const std::string&)> change;   // done to a copy of html
    std::vector<std::string> tar_options;             // added to tar's
    std::vector<std::string> more;                    // further entries
  };
  std::vector<odd_archive> cases = {
      {"html/config.txt is a FIFO",
       [](const std::string& h) { fs::remove(h + "/config.txt"); ::mkfifo((h + "/config.txt").c_str(), 0644); },
       {}, {}},
      {"html/name_db is a symbolic link",
       [&](const std::string& h) { fs::remove(h + "/name_db"); fs::create_symlink(outside, h + "/name_db"); },
       {}, {}},
      {"is a hard link",
       [](const std::string& h) { fs::remove(h + "/vantle_db"); fs::create_hard_link(h + "/kb.txt", h + "/vantle_db"); },
       {}, {}},
      {"html/../kb.txt is not inside html", [](const std::string&) {},
       {"--transform=s,^html/kb.txt$,html/../kb.txt,"}, {}},
      {outside + " is not inside html", [](const std::string&) {}, {"--absolute-names"}, {outside}},
  };
  if (::geteuid() == 0) {
    cases.push_back({"html/file.ic is a character device",
                     [](const std::string& h) {
                       fs::remove(h + "/file.ic");
                       ::mknod((h + "/file.ic").c_str(), S_IFCHR | 0644, makedev(1, 5));
                     },
                     {}, {}});
  }
  int k = 0;
  for (const odd_archive& c : cases) {
    std::string scratch = root_ / ("scratch" + std::to_string(++k));
    fs::create_directories(scratch);
    fs::copy(html(""), scratch + "/html", fs::copy_options::recursive);
    c.change(scratch + "/html");
    std::string archive = root_ / ("odd" + std::to_string(k) + ".tar.gz");
    std::vector<std::string> args = {"--create", "--gzip", "--file", archive};
    args.insert(args.end(), c.tar_options.begin(), c.tar_options.end());
    args.push_back("html");
    args.insert(args.end(), c.more.begin(), c.more.end());
    ASSERT_EQ(0, test_util::run_program_args("/usr/bin/tar", args, scratch, {}).status) << c.entry;

    run_result r = orvsite({"restore", dir(), archive});
    EXPECT_EQ(1, r.status) << c.entry;
    EXPECT_NE(std::string::npos, r.err.find(c.entry)) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(dir() + " is unchanged\n")) << r.err;
    EXPECT_EQ(before, tree_of(html(""))) << c.entry;
    EXPECT_EQ(std::vector<std::string>{}, restore_leftovers(dir())) << c.entry;
  }
  EXPECT_EQ("not the site's\n", read_file(outside));
}

TEST_F(OrvsiteSite, RestoreKilledAtAnyStepLeavesTheOldSiteOrTheNewOne) {
  namespace fs = std::filesystem;
  make_vantle();
  own_store();
  write_file(html("only_in_archive"), "gone after the backup\n");
  std::string archive = root_ / "north.tar.gz";
  ASSERT_EQ(0, orvsite({"backup", dir(), archive}).status);
  // The site goes on: files change, come and go.
  ASSERT_EQ(0, get("orv.cgi", create_form("d2", "physics%23%21", "Archives", "v2")).status);
  fs::remove(html("only_in_archive"));
  write_file(html("inbox/north1"), "arrived after the backup\n");
  edit(html("config.txt"), "email address: NULL", "email address: op@north");
  const std::string kept = root_ / "kept";
  fs::copy(html(""), kept, fs::copy_options::recursive);
  const std::map<std::string, std::string> old_site = tree_of(html(""));
  auto put_back_old_site = [&] {
    for (const std::string& name : test_util::list_dir(html(""))) {
      if (name != "run.lock") fs::remove_all(html(name));
    }
    for (const fs::directory_entry& e : fs::directory_iterator(kept)) {
      if (e.path().filename() != "run.lock") {
        fs::copy(e.path(), html(e.path().filename().string()), fs::copy_options::recursive);
      }
    }
  };
  ASSERT_EQ(0, orvsite({"restore", dir(), archive}).status);
  const std::map<std::string, std::string> new_site = tree_of(html(""));
  ASSERT_NE(old_site, new_site);

  int old_seen = 0, new_seen = 0, n = 1;
  for (;; ++n) {
    ASSERT_LT(n, 200);
    put_back_old_site();
    run_result r = test_util::run_program_args(test_util::program_path("orvsite"),
                                               {"restore", dir(), archive}, "/",
                                               {{"ORV_TEST_RESTORE_STOP", std::to_string(n)}});
    if (r.status == 0) break;  // no step left to be killed at
    ASSERT_EQ(-1, r.status) << "stop " << n << ": " << r.err;
    // The next request, or the next orvsite command, finds what is left.
    if (n % 2 == 1) {
      run_result page = get("orv.cgi", "");
      EXPECT_EQ(0, page.status) << n << page.out;
      EXPECT_EQ(std::string::npos, page.out.find("Creating the configuration file")) << n;
    } else {
      run_result check = orvsite({"check", dir()});
      EXPECT_EQ(std::string::npos, check.err.find("cannot")) << n << check.err;
    }
    std::map<std::string, std::string> now = tree_of(html(""));
    now.erase("dump_file");
    std::map<std::string, std::string> was = old_site, will = new_site;
    was.erase("dump_file");
    will.erase("dump_file");
    if (now == was) ++old_seen;
    else if (now == will) ++new_seen;
    else ADD_FAILURE() << "killed at stop " << n << ": html is neither the old site nor the new";
    EXPECT_EQ(std::vector<std::string>{}, restore_leftovers(dir())) << n;
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 5) << "a kill in every move of the swap";
}

TEST_F(OrvsiteSite, ASwapCutShortByRootIsFinishedByTheSitesOwnUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "restores as root, serves as another user";
  make_vantle();
  own_store();
  // The site's files are the web server user's; the site directory stays
  // root's, so that user cannot remove the restore's folder beside html.
  ASSERT_EQ(0, ::chmod(root_.path().c_str(), 0755));
  test_util::give_to_unprivileged(html(""));
  std::string archive = root_ / "north.tar.gz";
  ASSERT_EQ(0, orvsite({"backup", dir(), archive}).status);
  auto request = [&](const std::string& query) {
    return test_util::run_program_unprivileged(dir() + "/orv.cgi", dir(),
                                               {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  };
  ASSERT_EQ(0, request(create_form("d2", "physics%23%21", "Archives", "v2")).status);
  ASSERT_NE(std::string::npos, read_file(html("vantle_db")).value_or("").find("v2\n"));

  // Killed while html's old entries move out.
  run_result r = test_util::run_program_args(test_util::program_path("orvsite"),
                                             {"restore", dir(), archive}, "/",
                                             {{"ORV_TEST_RESTORE_STOP", "5"}});
  ASSERT_EQ(-1, r.status) << r.err;
  run_result page = request("");
  EXPECT_EQ(0, page.status) << page.out;
  EXPECT_EQ(std::string::npos, page.out.find("Error")) << page.out;
  std::string names = read_file(html("vantle_db")).value_or("");
  EXPECT_NE(std::string::npos, names.find("v1\n")) << names;
  EXPECT_EQ(std::string::npos, names.find("v2\n")) << "the old site came back: " << names;
  // What that user could not remove, the next orvsite command does.
  orvsite({"check", dir()});
  EXPECT_EQ(std::vector<std::string>{}, restore_leftovers(dir()));
}

TEST_F(OrvsiteSite, IdsHandedOutBeforeARestoreAreNotHandedOutAgain) {
  auto create = [&](const std::string& doc) {
    run_result r = get("orv.cgi", create_form(doc, "physics%23%21", "Archives", "n" + doc));
    EXPECT_EQ(0, r.status) << r.out;
    std::string mark = ")=doc {" + doc + "}";
    size_t at = r.out.find(mark);
    EXPECT_NE(std::string::npos, at) << r.out;
    size_t open = r.out.rfind('(', at);
    return std::stoi(r.out.substr(open + 1, at - open - 1));
  };
  create("a");
  std::string archive = root_ / "north.tar.gz";
  ASSERT_EQ(0, orvsite({"backup", dir(), archive}).status);
  int highest = 0;
  for (const char* doc : {"b", "c", "d"}) highest = std::max(highest, create(doc));
  ASSERT_EQ(0, orvsite({"restore", dir(), archive}).status);
  int after = create("e");
  EXPECT_GT(after, highest);
  highest = after;
  // The id counter lost before a restore: the ids the cells and names hold
  // still count as handed out.
  for (const char* doc : {"f", "g"}) highest = std::max(highest, create(doc));
  std::filesystem::remove(html("ic_id_counter"));
  ASSERT_EQ(0, orvsite({"restore", dir(), archive}).status);
  EXPECT_GT(create("h"), highest);
}

TEST_F(OrvsiteSite, PartsOfAKilledSaveAreNoBackupCopies) {
  make_vantle();
  own_store();
  // A save killed while it filed its copy, its process id since given to a
  // running process (this one).
  std::string part = html("BACKUP/file.ic.b1.part." + std::to_string(::getpid()) + ".0");
  write_file(part, "id: 1\n");
  run_result prune = orvsite({"prune", dir(), "--keep", "1"});
  EXPECT_EQ("kept 1 backup copy, removed 0 (0 bytes)\n", prune.out) << prune.err;
  EXPECT_TRUE(read_file(part));
  run_result check = orvsite({"check", dir()});
  EXPECT_EQ(std::string::npos, check.out.find(".part.")) << check.out;
  EXPECT_EQ("", problems(check.out));
  // In an archive the number names no process at all: the restore leaves
  // the file out.
  std::string archive = root_ / "north.tar.gz";
  ASSERT_EQ(0, orvsite({"backup", dir(), archive}).status);
  run_result restore = orvsite({"restore", dir(), archive});
  EXPECT_EQ(0, restore.status) << restore.err;
  EXPECT_FALSE(read_file(part)) << "the restore brought back " << part;
  EXPECT_EQ((std::vector<std::string>{"file.ic.b0"}), test_util::list_dir(html("BACKUP")));
}

TEST_F(OrvsiteSite, ARequestNeverWritesDefaultSettingsBesideCells) {
  make_vantle();
  std::string store = read_file(html("file.ic")).value_or("");
  std::filesystem::remove(html("config.txt"));
  run_result r = get("orv.cgi", create_form("d2", "physics%23%21", "Archives", "v2"));
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("config.txt is missing, but the site holds cells"))
      << r.out;
  EXPECT_FALSE(read_file(html("config.txt")));
  EXPECT_EQ(store, read_file(html("file.ic")));
  // Without cells the settings are a new site's.
  std::filesystem::remove(html("file.ic"));
  std::filesystem::remove(html("config.txt"));
  r = get("orv.cgi", "");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("Creating the configuration file: config.txt")) << r.out;
  EXPECT_TRUE(read_file(html("config.txt")));
}

TEST_F(OrvsiteSite, StateLinesMatchTheSite) {
  make_vantle();
  write_file(html("inbox/north1"), "x");
  write_file(html("outbox/east1"), "x");
  write_file(html("outbox/east2"), "x");
  std::uintmax_t backup = std::filesystem::file_size(html("BACKUP/file.ic.b0"));
  struct stat st;
  ASSERT_EQ(0, ::stat(html("dump_file").c_str(), &st));
  char when[64];
  std::tm tm{};
  gmtime_r(&st.st_mtime, &tm);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &tm);

  run_result r = orvsite({"state", dir()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("site: orv id north, server id srv1\n"
            "cells: 1 (VANTLE 1)\n"
            "vantles: 1 name in vantle_db\n"
            "waiting: 1 file in inbox, 2 files in outbox\n"
            "backups: 1 copy, " + std::to_string(backup) + " bytes, newest BACKUP/file.ic.b0\n"
            "last request: " + when + "\n",
            r.out);
}

TEST_F(OrvsiteSite, PruneKeepsTheNewestCopiesAndWaitsForTheLock) {
  // Five copies whose numbers do not tell their age: b3 and b0 are newest.
  std::filesystem::create_directories(html("BACKUP"));
  const std::vector<std::pair<int, int>> number_and_age = {{0, 10}, {1, 40}, {2, 30}, {3, 5}, {4, 50}};
  for (auto [number, age] : number_and_age) {
    std::string path = html("BACKUP/file.ic.b" + std::to_string(number));
    write_file(path, "copy");
    struct timespec times[2] = {{1700000000 - age, 0}, {1700000000 - age, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
  }

  auto held = std::make_unique<platform::run_lock>(html("run.lock"));
  ASSERT_TRUE(held->held());
  run_result r;
  std::thread prune([&] { r = orvsite({"prune", dir(), "--keep", "2"}); });
  // A request holds the site: the prune waits and removes nothing.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(5u, test_util::list_dir(html("BACKUP")).size());
  held.reset();
  prune.join();
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ((std::vector<std::string>{"file.ic.b0", "file.ic.b3"}),
            test_util::list_dir(html("BACKUP")));
  EXPECT_EQ("kept 2 backup copies, removed 3 (12 bytes)\n", r.out);
}

// BACKUP as a link to a folder elsewhere: prune removes nothing there, and
// check names it with its mend.
TEST_F(OrvsiteSite, PruneAndCheckRefuseABackupFolderThatIsALink) {
  const std::string outside = root_.path() + "/outside";
  std::filesystem::create_directories(outside);
  for (const char* copy : {"file.ic.b1", "file.ic.b2", "file.ic.b3"}) write_file(outside + "/" + copy, "c");
  ASSERT_EQ(0, ::symlink(outside.c_str(), html("BACKUP").c_str()));
  run_result r = orvsite({"prune", dir(), "--keep", "1"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("orvsite prune: " + html("BACKUP") +
                ": not a folder of the site (a symbolic link); nothing is removed\n",
            r.err);
  EXPECT_EQ(3u, test_util::list_dir(outside).size());
  run_result c = orvsite({"check", dir()});
  EXPECT_EQ(1, c.status);
  EXPECT_NE(std::string::npos,
            c.out.find("BACKUP: not a folder of the site (a symbolic link): every request is refused"))
      << c.out;
}

TEST_F(OrvsiteSite, OptionValuesFollowAnEqualsSignOrComeNext) {
  std::filesystem::create_directories(html("BACKUP"));
  for (const char* copy : {"file.ic.b7", "file.ic.b8"}) write_file(html("BACKUP/") + copy, "c");
  run_result r = orvsite({"prune", dir(), "--keep=3"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("kept 2 backup copies, removed 0 (0 bytes)\n", r.out);

  run_result missing = orvsite({"prune", dir(), "--keep"});
  EXPECT_EQ(2, missing.status);
  EXPECT_EQ("orvsite prune: --keep needs a value\nTry: orvsite prune --help\n", missing.err);
  run_result flag = orvsite({"status", "--json=yes", dir()});
  EXPECT_EQ(2, flag.status);
  EXPECT_EQ("orvsite status: --json takes no value\nTry: orvsite status --help\n", flag.err);
  // After "--" a name that begins with "-" is a directory, not an option.
  run_result odd = orvsite({"state", "--", "-north"}, root_.path());
  EXPECT_EQ(1, odd.status);
  EXPECT_EQ(std::string::npos, odd.err.find("unknown option")) << odd.err;
}

TEST(ConsoleOptions, HelpAndVersionOfEveryProgramTouchNoFile) {
  test_util::scoped_temp_dir empty;
  for (const char* program : {"orv", "cellkit", "vexil", "tagwell", "orvsite"}) {
    run_result version = test_util::run_program_args(test_util::program_path(program),
                                                     {"--version"}, empty.path(), {});
    EXPECT_EQ(0, version.status) << program;
    EXPECT_EQ(std::string(program) + " " PROJECT_VERSION "\n", version.out);
    run_result help = test_util::run_program_args(test_util::program_path(program), {"--help"},
                                                  empty.path(), {});
    EXPECT_EQ(0, help.status) << program;
    EXPECT_EQ("Usage: " + std::string(program), help.out.substr(0, 7 + std::string(program).size()));
  }
  EXPECT_TRUE(test_util::list_dir(empty.path()).empty()) << "tagwell wrote its files";

  // The options are read as getopt_long reads them: shortened while
  // unambiguous; a value given to --version is no console request.
  for (const char* program : {"orv", "cellkit", "vexil"}) {
    run_result shortened = test_util::run_program_args(test_util::program_path(program),
                                                       {"--vers"}, empty.path(), {});
    EXPECT_EQ(std::string(program) + " " PROJECT_VERSION "\n", shortened.out);
    run_result valued = test_util::run_program_args(test_util::program_path(program),
                                                    {"--version=1"}, empty.path(), {});
    EXPECT_EQ(std::string::npos, valued.out.find(PROJECT_VERSION "\n")) << program;
  }

  // Started by a web server, an argument is no option: a page as always.
  run_result cgi = test_util::run_program_args(test_util::program_path("orv"), {"--help"},
                                               empty.path(), {{"GATEWAY_INTERFACE", "CGI/1.1"}});
  EXPECT_EQ(test_util::cgi_header, cgi.out.substr(0, test_util::cgi_header.size()));
}

}  // namespace
