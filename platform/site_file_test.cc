#include "platform/site_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::scoped_temp_dir;
using test_util::write_file;

TEST(SiteFile, ReadsAPlainFileAndTellsAMissingOne) {
  scoped_temp_dir dir;
  write_file(dir.path() + "/config.txt", "orv id: north\n");
  std::string err;
  EXPECT_EQ(platform::read_site_file(dir.path() + "/config.txt", &err), "orv id: north\n");
  EXPECT_FALSE(platform::read_site_file(dir.path() + "/none", &err));
  EXPECT_EQ(err, "");
}

TEST(SiteFile, RefusesWhatIsNotAPlainFileWithoutReadingIt) {
  scoped_temp_dir dir;
  std::string err;
  // A FIFO without a writer would block a plain open; a device would never end.
  ASSERT_EQ(0, ::mkfifo((dir.path() + "/config.txt").c_str(), 0600));
  EXPECT_FALSE(platform::read_site_file(dir.path() + "/config.txt", &err));
  EXPECT_EQ(err, dir.path() + "/config.txt: not a plain file of the site (a FIFO)");
  ASSERT_EQ(0, ::symlink("/dev/zero", (dir.path() + "/file.ic").c_str()));
  EXPECT_FALSE(platform::read_site_file(dir.path() + "/file.ic", &err));
  EXPECT_EQ(err, dir.path() + "/file.ic: not a plain file of the site (a symbolic link)");
  write_file(dir.path() + "/outside", "x");
  ASSERT_EQ(0, ::symlink((dir.path() + "/outside").c_str(), (dir.path() + "/name_db").c_str()));
  EXPECT_FALSE(platform::read_site_file(dir.path() + "/name_db", &err));
  EXPECT_NE(err, "");
  EXPECT_FALSE(platform::read_site_file("/dev/zero", &err));
  EXPECT_EQ(err, "/dev/zero: not a plain file of the site (a character device)");
}

TEST(SiteFile, RefusesAFileOverItsBound) {
  scoped_temp_dir dir;
  write_file(dir.path() + "/kb.txt", std::string(100, 'k'));
  std::string err;
  EXPECT_FALSE(platform::read_site_file(dir.path() + "/kb.txt", &err, 99));
  EXPECT_EQ(err, dir.path() + "/kb.txt: 100 bytes, more than the 99 it may hold");
  EXPECT_EQ(platform::read_site_file(dir.path() + "/kb.txt", &err, 100), std::string(100, 'k'));
}

TEST(SiteFile, ATailIsTheWholeLinesOfTheLastBytesOfAPlainFile) {
  scoped_temp_dir dir;
  std::string log = dir.path() + "/exchange.log";
  write_file(log, "first line\nsecond\nthird\n");
  std::string err;
  EXPECT_EQ(platform::read_site_file_tail(log, &err, 1000), "first line\nsecond\nthird\n");
  // The last 10 bytes begin inside "second": only "third" is whole.
  EXPECT_EQ(platform::read_site_file_tail(log, &err, 10), "third\n");
  ASSERT_EQ(0, ::symlink("/dev/zero", (dir.path() + "/linked.log").c_str()));
  EXPECT_FALSE(platform::read_site_file_tail(dir.path() + "/linked.log", &err, 10));
  EXPECT_EQ(err, dir.path() + "/linked.log: not a plain file of the site (a symbolic link)");
}

TEST(SiteFile, AFolderOfTheSiteIsADirectoryNotALinkToOne) {
  scoped_temp_dir dir;
  std::string err;
  EXPECT_TRUE(platform::site_directory_or_absent(dir.path() + "/inbox.taken", &err));
  ASSERT_EQ(0, ::mkdir((dir.path() + "/outside").c_str(), 0700));
  EXPECT_TRUE(platform::site_directory_or_absent(dir.path() + "/outside", &err));
  ASSERT_EQ(0, ::symlink((dir.path() + "/outside").c_str(), (dir.path() + "/inbox.taken").c_str()));
  EXPECT_FALSE(platform::site_directory_or_absent(dir.path() + "/inbox.taken", &err));
  EXPECT_EQ(err, dir.path() + "/inbox.taken: not a folder of the site (a symbolic link)");
  write_file(dir.path() + "/BACKUP", "x");
  EXPECT_FALSE(platform::site_directory_or_absent(dir.path() + "/BACKUP", &err));
  EXPECT_EQ(err, dir.path() + "/BACKUP: not a folder of the site (a plain file)");
}

}  // namespace
