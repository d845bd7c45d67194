// Black-box tests of the cell store through orv's system messages
// SYS_BACKUP and SYS_RESTORE, in a fresh site directory.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>


#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& page_header = test_util::cgi_header;

const char* const configured = test_util::north_config;

// A vantle with inputs (one content spans two lines), an output group,
// a same-ic entry, collected entries, a profile entry and a fusion record.
const std::string full_vantle =
    "id: 1\nic type: VANTLE\ncurrent state: 2\ninitial state: 0\nmax. time: 100\n"
    "ic symbolic name: my paper\nic sys name -- server id: srv1\n"
    "ic sys name -- orv id: north\nic sys name -- ic type: VANTLE\n"
    "ic sys name -- ic id: 1\nic sys name -- flag: s\n"
    "input list: 2\n"
    "-1 3 1\n-1\nmy paper\nsrv1\nnorth\nVANTLE\n1\ns\n%%query%0Atwo lines|NULL\n0.700000\n"
    "4 5 1\n4\n\nsrv1\nnorth\nNULL\n1\ns\na|b\n0.000000\n"
    "output list: 1\n2\n5 2 1\n6 2 1\n"
    "same ic: 1\n3 5\n"
    // vantle record
    "1\nnorth\ns\nInfo_Gathering\ndoc-1\npaper#retrieval#!\n!\nspam#!\n#!\nir#!\n"
    "a comment\non two lines#!\nmy paper\nme@example.org\n1\n7\nsouth\nc\n3\n"
    "info_link: 2\n"
    "-1\nN/A\nn\nInfo_Gathering\nd2\nb#c#!\nx#!\n!\n#!\nk#!\n#!\n"
    "-1\nN/A\nn\nInfo_Gathering\nd1\na#b#!\ny#!\nh#!\n#!\nk#!\nx#!\n"
    "profile_link: 1\n-1\nN/A\nn\np1\n"
    "fusion: 1\n1\nnorth\ns\nInfo_Gathering\nd2#d1#!\nb#c#a#!\nx#y#!\nh#!\n#!\nk#!\nx#!\n";

// A vantle that no create action filled: its comment is the default.
const std::string default_vantle =
    "id: 2\nic type: VANTLE\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
    "ic symbolic name: \nic sys name -- server id: srv1\nic sys name -- orv id: north\n"
    "ic sys name -- ic type: VANTLE\nic sys name -- ic id: 2\nic sys name -- flag: s\n"
    "input list: 0\noutput list: 0\nsame ic: 0\n"
    "0\n0\ns\nundefined\nundefined\nundefined\nundefined\nundefined\nundefined\nundefined\n"
    "undefined\n\nundefined\n0\n0\n0\ns\n0\ninfo_link: 0\nprofile_link: 0\nfusion: 0\n";

// A cell of another type: no application block.
const std::string note_cell =
    "id: 3\nic type: NOTE\ncurrent state: 1\ninitial state: 0\nmax. time: 0\n"
    "ic symbolic name: *** (no symbolic name)\nic sys name -- server id: srv9\n"
    "ic sys name -- orv id: south\nic sys name -- ic type: NOTE\n"
    "ic sys name -- ic id: 77\nic sys name -- flag: c\n"
    "input list: 0\noutput list: 0\nsame ic: 0\n";

const std::string store = full_vantle + default_vantle + note_cell;

// The same store after one save and load: cells, inputs, groups, group
// messages and collected entries in reverse order.
const std::string reversed_full_vantle = [] {
  std::string s = full_vantle;
  auto swap_blocks = [&s](const std::string& a, const std::string& b) {
    size_t at = s.find(a + b);
    EXPECT_NE(std::string::npos, at);
    s.replace(at, a.size() + b.size(), b + a);
  };
  swap_blocks("-1 3 1\n-1\nmy paper\nsrv1\nnorth\nVANTLE\n1\ns\n%%query%0Atwo lines|NULL\n0.700000\n",
              "4 5 1\n4\n\nsrv1\nnorth\nNULL\n1\ns\na|b\n0.000000\n");
  swap_blocks("5 2 1\n", "6 2 1\n");
  swap_blocks("-1\nN/A\nn\nInfo_Gathering\nd2\nb#c#!\nx#!\n!\n#!\nk#!\n#!\n",
              "-1\nN/A\nn\nInfo_Gathering\nd1\na#b#!\ny#!\nh#!\n#!\nk#!\nx#!\n");
  return s;
}();

const char* const vantle_fg =
    "// VANTLE: create, then wait\n"
    "0\n1\n1\n1,X1|X2\n0\n0\n0\n1\n0,X1|X2\n";

class OrvStoreCli : public ::testing::Test {
 protected:
  OrvStoreCli() {
    ::mkdir((site_ / "html").c_str(), 0755);
    write_file(html("config.txt"), configured);
    write_file(html("VANTLE.in"), vantle_fg);
    write_file(html("NOTE.in"), "// no transitions\n");
  }

  std::string html(const std::string& rel) { return site_ / ("html/" + rel); }

  std::map<std::string, std::string> env(const std::string& type) {
    return {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "message_type=" + type + "&flag=orv"}};
  }

  run_result get(const std::string& type) {
    return test_util::run_program(test_util::program_path("orv"), site_.path(), env(type));
  }

  test_util::scoped_temp_dir site_;
};

TEST_F(OrvStoreCli, BackupRoundTripIsByteIdentical) {
  write_file(html("file.ic"), store);
  const std::string loading =
      "Calling VG updating funciton...<br>\n"
      "Calling VG updating funciton...<br>\n"
      "Unknown ic type: NOTE\n";

  run_result r = get("SYS_BACKUP");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(page_header + loading + "All Vantles are backuped. <p>\n", r.out);
  std::string once = note_cell + default_vantle + reversed_full_vantle;
  EXPECT_EQ(once, read_file(html("file.ic")));
  EXPECT_EQ(once, read_file(html("BACKUP/file.ic.b0")));

  r = get("SYS_BACKUP");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(store, read_file(html("file.ic"))) << "save, load, save gives the same bytes";
  EXPECT_EQ(store, read_file(html("BACKUP/file.ic.b1")));
  EXPECT_EQ((std::vector<std::string>{"file.ic.b0", "file.ic.b1"}),
            test_util::list_dir(html("BACKUP")));
  struct stat st;
  ASSERT_EQ(0, ::stat(html("file.ic").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777u);

  // A gap among the copies is filled first.
  ASSERT_EQ(0, ::unlink(html("BACKUP/file.ic.b0").c_str()));
  get("SYS_BACKUP");
  EXPECT_EQ(once, read_file(html("BACKUP/file.ic.b0")));
  EXPECT_FALSE(read_file(html("BACKUP/file.ic.b2")));
}

TEST_F(OrvStoreCli, RestoreLoadsWithoutSaving) {
  write_file(html("file.ic"), store);
  run_result r = get("SYS_RESTORE");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(page_header +
                "Calling VG updating funciton...<br>\nCalling VG updating funciton...<br>\n"
                "Unknown ic type: NOTE\nAll Vantles are restored.<p>\n",
            r.out);
  EXPECT_EQ(store, read_file(html("file.ic")));
  EXPECT_FALSE(::access(html("BACKUP").c_str(), F_OK) == 0) << "nothing is saved";
}

TEST_F(OrvStoreCli, MissingStoreMeansNoCells) {
  run_result r = get("SYS_BACKUP");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(page_header + "All Vantles are backuped. <p>\n", r.out);
  EXPECT_EQ("", read_file(html("file.ic")));
  EXPECT_EQ("", read_file(html("BACKUP/file.ic.b0")));
  EXPECT_EQ("Can't open backup file file.ic. <br>\n", read_file(html("dump_file")));
}

TEST_F(OrvStoreCli, DamagedStoreIsNeverSavedOver) {
  // The store ends inside the default vantle's block.
  std::string damaged = full_vantle + default_vantle.substr(0, default_vantle.find("profile_link"));
  write_file(html("file.ic"), damaged);
  run_result r = get("SYS_BACKUP");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(page_header +
                "Calling VG updating funciton...<br>\nCalling VG updating funciton...<br>\n"
                "The cell store file.ic is damaged at line 131: the file ends where "
                "\"profile_link: \" is expected.<p>\n",
            r.out);
  EXPECT_EQ(damaged, read_file(html("file.ic")));
  EXPECT_FALSE(read_file(html("BACKUP/file.ic.b0")));
  EXPECT_EQ(
      "The cell store file.ic is damaged at line 131: the file ends where \"profile_link: \" is "
      "expected.<p>\n",
      read_file(html("dump_file")));

  write_file(html("file.ic"), note_cell + "id: 4\n");
  r = get("SYS_RESTORE");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(page_header + "Unknown ic type: NOTE\nThe cell store file.ic is damaged at line 16: "
                          "the file ends where \"ic type: \" is expected.<p>\n",
            r.out);
}

TEST_F(OrvStoreCli, CellOfATypeWithoutDefinitionEndsTheRun) {
  write_file(html("file.ic"), note_cell);
  ASSERT_EQ(0, ::unlink(html("NOTE.in").c_str()));
  run_result r = get("SYS_BACKUP");
  EXPECT_EQ(255, r.status);
  EXPECT_EQ(page_header + "***** No such file: NOTE.in *****\n\n</body></html>", r.out);
  EXPECT_EQ("***** No such file: NOTE.in *****\n\n", read_file(html("dump_file")));
  EXPECT_EQ(note_cell, read_file(html("file.ic")));
}

// Runs orv on SYS_BACKUP with files limited to `limit` bytes: a write
// beyond it kills the run (SIGXFSZ) in the middle of writing. Returns the
// signal that ended the run, or 0.
int run_with_file_limit(const std::string& dir, rlim_t limit) {
  pid_t pid = ::fork();
  if (pid == 0) {
    struct rlimit rl = {limit, limit};
    if (::chdir(dir.c_str()) != 0 || ::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(126);
    std::string prog = test_util::program_path("orv");
    char* argv[] = {prog.data(), nullptr};
    char method[] = "REQUEST_METHOD=GET";
    char query[] = "QUERY_STRING=message_type=SYS_BACKUP&flag=orv";
    char* envp[] = {method, query, nullptr};
    int null_fd = ::open("/dev/null", O_WRONLY);
    ::dup2(null_fd, 1);
    ::execve(prog.c_str(), argv, envp);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

TEST_F(OrvStoreCli, RunDyingWhileSavingLeavesTheOldStore) {
  std::string big;
  for (int i = 0; i < 100; ++i) big += store;
  write_file(html("file.ic"), big);

  EXPECT_EQ(SIGXFSZ, run_with_file_limit(site_.path(), big.size() / 2));
  EXPECT_EQ(big, read_file(html("file.ic"))) << "the old store is whole";
  // The backup copy is written first, aside, and the run died in it.
  std::vector<std::string> partial;
  for (const std::string& name : test_util::list_dir(html("BACKUP"))) {
    EXPECT_EQ(0u, name.rfind("file.ic.b0.part.", 0)) << name;
    partial.push_back(name);
  }
  ASSERT_EQ(1u, partial.size()) << "the run died while writing the backup copy";
  EXPECT_EQ(big.size() / 2, read_file(html("BACKUP/" + partial[0]))->size());

  // The next run saves normally.
  ASSERT_EQ(0, get("SYS_BACKUP").status);
  EXPECT_EQ(big.size(), read_file(html("file.ic"))->size());
  EXPECT_NE(big, read_file(html("file.ic"))) << "saved in reverse order";
}

}  // namespace
