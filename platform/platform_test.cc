#include "platform/platform.h"
#include "platform/site_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <thread>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::scoped_temp_dir;
using test_util::write_file;

void set_mtime(const std::string& path, time_t sec) {
  struct timespec times[2] = {{sec, 0}, {sec, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
}

mode_t mode_of(const std::string& path) {
  struct stat st;
  EXPECT_EQ(0, ::stat(path.c_str(), &st));
  return st.st_mode & 0777;
}

TEST(Platform, MakeDirectoryIsIdempotent) {
  scoped_temp_dir t;
  EXPECT_TRUE(platform::make_directory(t / "inbox"));
  EXPECT_TRUE(platform::make_directory(t / "inbox"));
  EXPECT_TRUE(platform::is_directory(t / "inbox"));
  write_file(t / "plain", "x");
  EXPECT_FALSE(platform::make_directory(t / "plain"));
}

TEST(Platform, WatchTellsArrivalsAndABoxReplaced) {
  scoped_temp_dir t;
  ASSERT_TRUE(platform::make_directory(t / "box"));
  platform::directory_watch w;
  std::string why;
  ASSERT_TRUE(w.add_names(t.path(), {"box"}, &why)) << why;
  ASSERT_TRUE(w.add(t / "box", &why)) << why;
  EXPECT_FALSE(w.add(t / "none", &why));
  EXPECT_EQ("", why) << "a missing directory is no error";
  EXPECT_FALSE(w.wait(0));
  write_file(t / "beside", "x");  // beside the watched name: of no interest
  EXPECT_FALSE(w.wait(100));
  write_file(t / "box/m", "x");
  platform::directory_watch::events e = w.wait(1000);
  EXPECT_TRUE(e.arrived);
  EXPECT_FALSE(e.changed);
  // The box moved away and made anew: the old watch sees nothing of the
  // new box, but the change is told.
  ASSERT_EQ(0, ::rename((t / "box").c_str(), (t / "box.old").c_str()));
  ASSERT_TRUE(platform::make_directory(t / "box"));
  EXPECT_TRUE(w.wait(1000).changed);
  platform::directory_watch again;
  ASSERT_TRUE(again.add(t / "box", &why)) << why;
  ASSERT_EQ(0, ::rmdir((t / "box").c_str()));
  EXPECT_TRUE(again.wait(1000).changed) << "the box removed";
}

TEST(Platform, CopyNeverReplaces) {
  scoped_temp_dir t;
  write_file(t / "a", "first");
  write_file(t / "b", "second");
  EXPECT_TRUE(platform::copy_file(t / "a", t / "c"));
  EXPECT_EQ("first", read_file(t / "c"));
  EXPECT_FALSE(platform::copy_file(t / "a", t / "b"));
  EXPECT_EQ("second", read_file(t / "b"));
  EXPECT_FALSE(platform::copy_file(t / "missing", t / "d"));
  EXPECT_FALSE(platform::exists(t / "d"));
  // Nothing is left beside the copies.
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), test_util::list_dir(t.path()));
}

TEST(Platform, ListsRegularFilesOldestFirstTiesByName) {
  scoped_temp_dir t;
  write_file(t / "d/new", "");
  write_file(t / "d/old", "");
  write_file(t / "d/tie_b", "");
  write_file(t / "d/tie_a", "");
  platform::make_directory(t / "d/sub");
  ASSERT_EQ(0, ::symlink("old", (t / "d/link").c_str()));
  set_mtime(t / "d/new", 3000);
  set_mtime(t / "d/old", 1000);
  set_mtime(t / "d/tie_b", 2000);
  set_mtime(t / "d/tie_a", 2000);
  EXPECT_EQ((std::vector<std::string>{"old", "tie_a", "tie_b", "new"}),
            platform::list_files_oldest_first(t / "d"));
  EXPECT_TRUE(platform::list_files_oldest_first(t / "none").empty());
}

TEST(Platform, ReplaceFileIsWholeAndNotWorldWritable) {
  scoped_temp_dir t;
  std::string err;
  write_file(t / "f", "old");
  ASSERT_TRUE(platform::replace_file(t / "f", "new text\n", &err)) << err;
  EXPECT_EQ("new text\n", read_file(t / "f"));
  EXPECT_EQ(0600u, mode_of(t / "f") & 0600u);
  EXPECT_EQ(0u, mode_of(t / "f") & 0022u) << "group and others must not get write access";
  EXPECT_EQ((std::vector<std::string>{"f"}), test_util::list_dir(t.path()));
  // A target in a missing directory fails and reports why.
  EXPECT_FALSE(platform::replace_file(t / "no/f", "x", &err));
  EXPECT_NE(std::string::npos, err.find("no/f"));
}

TEST(Platform, CreateExclusiveRefusesTakenName) {
  scoped_temp_dir t;
  std::string err;
  EXPECT_TRUE(platform::create_file_exclusive(t / "m", "one", &err));
  EXPECT_FALSE(platform::create_file_exclusive(t / "m", "two", &err));
  EXPECT_EQ("one", read_file(t / "m"));
  EXPECT_EQ((std::vector<std::string>{"m"}), test_util::list_dir(t.path()));
}

TEST(Platform, CreateExclusiveViaWritesAsideInAnotherDirectory) {
  scoped_temp_dir t;
  std::string err;
  platform::make_directory(t / "box");
  platform::make_directory(t / "aside");
  EXPECT_TRUE(platform::create_file_exclusive_via(t / "box/m", t / "aside", "one", &err)) << err;
  EXPECT_FALSE(platform::create_file_exclusive_via(t / "box/m", t / "aside", "two", &err));
  EXPECT_EQ("one", read_file(t / "box/m"));
  EXPECT_EQ((std::vector<std::string>{"m"}), test_util::list_dir(t / "box"));
  EXPECT_TRUE(test_util::list_dir(t / "aside").empty()) << "the aside copy is removed";
  EXPECT_FALSE(platform::create_file_exclusive_via(t / "box/n", t / "missing", "x", &err));
  EXPECT_FALSE(platform::exists(t / "box/n"));
}

TEST(Platform, ReadAndRemoveFile) {
  scoped_temp_dir t;
  write_file(t / "bytes", std::string("a\0b\r\n", 5));
  EXPECT_EQ(std::string("a\0b\r\n", 5), platform::read_file(t / "bytes"));
  EXPECT_FALSE(platform::read_file(t / "missing"));
  EXPECT_FALSE(platform::read_file(t.path()));  // a directory is not a file
  EXPECT_TRUE(platform::remove_file(t / "bytes"));
  EXPECT_FALSE(platform::remove_file(t / "bytes"));
}

TEST(Platform, SiteScriptRunsInWorkingDirectory) {
  scoped_temp_dir t;
  write_file(t / "orv_ftp_get.cmd", "#!/bin/sh\necho fetched > got\necho to-stdout\nexit 3\n");
  ASSERT_EQ(0, ::chmod((t / "orv_ftp_get.cmd").c_str(), 0755));
  test_util::scoped_chdir here(t.path());
  EXPECT_EQ(3, platform::run_site_script("orv_ftp_get.cmd"));
  EXPECT_EQ("fetched\n", read_file(t / "got"));
  // A missing script is reported by its status, not by an exception.
  EXPECT_NE(0, platform::run_site_script("orv_ftp_put.cmd"));
}

TEST(Platform, RunLockMakesSecondHolderWait) {
  scoped_temp_dir t;
  std::string lock = t / "run.lock";
  int go[2];
  ASSERT_EQ(0, ::pipe(go));
  // The second process is started before the lock is taken, so it does not
  // share the first holder's open lock file.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c;
    if (::read(go[0], &c, 1) != 1) ::_exit(2);
    platform::run_lock second(lock);
    int fd = ::open((t / "child_has_lock").c_str(), O_WRONLY | O_CREAT, 0644);
    ::_exit(second.held() && fd >= 0 ? 0 : 1);
  }
  auto holder = std::make_unique<platform::run_lock>(lock);
  ASSERT_TRUE(holder->held());
  ASSERT_EQ(1, ::write(go[1], "g", 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(platform::exists(t / "child_has_lock")) << "second holder did not wait";
  holder.reset();
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(platform::exists(t / "child_has_lock"));
}

}  // namespace

namespace {

TEST(Platform, RunProgramCollectsStandardErrorWhenAsked) {
  scoped_temp_dir t;
  // More than a pipe holds, so a collector that only read at the end of a
  // pipe would hang here.
  write_file(t.path() + "/talk", "#!/bin/sh\necho page\ni=0\nwhile [ $i -lt 5000 ]; do\n"
                                 "  echo \"line $i of a long complaint\" >&2; i=$((i+1))\ndone\n"
                                 "echo last words >&2\nexit 3\n");
  ASSERT_EQ(0, ::chmod((t.path() + "/talk").c_str(), 0755));
  platform::program_result r;
  std::string err, said;
  ASSERT_TRUE(platform::run_program(t.path() + "/talk", t.path(), {"PATH=/usr/bin:/bin"}, &r,
                                    &err, &said))
      << err;
  EXPECT_EQ(3, r.status);
  EXPECT_EQ("page\n", r.out);
  EXPECT_EQ(0u, said.rfind("line 0 of a long complaint\n", 0));
  EXPECT_EQ("last words\n", said.substr(said.size() - 11));
}

TEST(Platform, TheJournalIsKnownByItsStream) {
  // Standard error of a test is no journal, whatever JOURNAL_STREAM says.
  ::setenv("JOURNAL_STREAM", "1:1", 1);
  EXPECT_FALSE(platform::stderr_is_journal());
  struct stat st;
  ASSERT_EQ(0, ::fstat(STDERR_FILENO, &st));
  std::string own = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  ::setenv("JOURNAL_STREAM", own.c_str(), 1);
  EXPECT_TRUE(platform::stderr_is_journal());
  ::unsetenv("JOURNAL_STREAM");
  EXPECT_FALSE(platform::stderr_is_journal());
}

TEST(Platform, AccessOfTellsOwnerModeAndKind) {
  scoped_temp_dir dir;
  std::string file = dir / "f";
  write_file(file, "x");
  ASSERT_EQ(0, ::chmod(file.c_str(), 0640));
  std::optional<platform::entry_access> a = platform::access_of(file);
  ASSERT_TRUE(a);
  EXPECT_EQ(::geteuid(), a->owner);
  EXPECT_EQ(0640u, a->mode);
  EXPECT_TRUE(a->regular);
  EXPECT_FALSE(a->directory);
  EXPECT_EQ(1u, a->links);
  ASSERT_EQ(0, ::link(file.c_str(), (dir / "g").c_str()));
  EXPECT_EQ(2u, platform::access_of(file)->links);
  EXPECT_TRUE(platform::access_of(dir.path())->directory);
  EXPECT_FALSE(platform::access_of(dir / "missing"));
}

TEST(Platform, FindUserByNameAndNumber) {
  std::optional<platform::user_account> root = platform::find_user("root");
  ASSERT_TRUE(root);
  EXPECT_EQ(0u, root->uid);
  EXPECT_NE(root->groups.end(), std::find(root->groups.begin(), root->groups.end(), root->gid));
  std::optional<platform::user_account> zero = platform::find_user("0");
  ASSERT_TRUE(zero);
  EXPECT_EQ("root", zero->name);
  EXPECT_FALSE(platform::find_user("no-such-user-here"));
  EXPECT_EQ("root", platform::user_name(0));
}

TEST(Platform, RunToolGivesTheExitStatus) {
  scoped_temp_dir dir;
  EXPECT_EQ(0, platform::run_tool("sh", {"-c", "pwd > here"}, dir.path()));
  EXPECT_EQ(dir.path() + "\n", read_file(dir / "here"));
  EXPECT_EQ(3, platform::run_tool("sh", {"-c", "exit 3"}, dir.path()));
  EXPECT_EQ(127, platform::run_tool("no-such-program-here", {}, dir.path()));
}

// A site reached from outside: its scripts run in it and their words are
// kept in order; whether it could be entered is told without entering it.
TEST(Platform, ASiteIsReachedFromOutside) {
  scoped_temp_dir dir;
  write_file(dir / "s.cmd", "#!/bin/sh\necho out\necho err >&2\npwd\n");
  ASSERT_EQ(0, ::chmod((dir / "s.cmd").c_str(), 0755));
  std::string said;
  EXPECT_EQ(0, platform::run_site_script("s.cmd", platform::script_place{dir.path(), &said}));
  const std::string real = std::filesystem::canonical(dir.path()).string();
  EXPECT_EQ("out\nerr\n" + real + "\n", said);

  platform::site_dir site(dir.path() + "/");
  EXPECT_EQ(dir / "file.ic", site.at("file.ic"));
  EXPECT_EQ("file.ic", platform::site_dir().at("file.ic"));
  std::string err = site.at("inbox/x") + ": gone";
  site.as_inside(&err);
  EXPECT_EQ("inbox/x: gone", err);

  EXPECT_TRUE(platform::can_enter(dir.path(), &err));
  EXPECT_FALSE(platform::can_enter(dir / "none", &err));
  EXPECT_EQ(dir / "none: No such file or directory", err);
  EXPECT_FALSE(platform::can_enter(dir / "s.cmd", &err));
  EXPECT_EQ(dir / "s.cmd: Not a directory", err);
}

}  // namespace
