#include "site/run_journal.h"

#include <sys/stat.h>

#include "exchange/exchange.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
#include "site/naming.h"
#include "site/vantle.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::write_file;

using RunJournalTest = test_util::in_run_dir;

// A run killed before its save: the next run cuts the naming files back,
// drops the staged outgoing files and leaves the incoming ones.
TEST_F(RunJournalTest, ARunKilledBeforeItsSaveIsUndone) {
  write_file("name_db", "1\na\nsrv1\nnorth\nNOTE\n1\ns\n");
  write_file("inbox/north1", "a message");
  {
    site::run_journal journal(out_);
    journal.before_naming_change();
    journal.before_naming_change();  // noted once
    ASSERT_TRUE(platform::append_file("name_db", "2\nb\nsrv1\nnorth\nNOTE\n2\ns\n", nullptr));
    ASSERT_TRUE(platform::append_file("vantle_db", "b\ndoc\n", nullptr));
    write_file(std::string(exchange::staging_dir) + "/east1", "an outgoing message");
  }  // killed here
  site::run_journal::recover(out_);
  EXPECT_EQ("1\na\nsrv1\nnorth\nNOTE\n1\ns\n", read_file("name_db"));
  EXPECT_FALSE(read_file("vantle_db")) << "it did not exist before the run";
  EXPECT_TRUE(test_util::list_dir(exchange::staging_dir).empty());
  EXPECT_EQ("a message", read_file("inbox/north1"));
  EXPECT_FALSE(read_file(site::journal_file));
  EXPECT_NE(std::string::npos, trace().find("its changes are undone"));
}

// A run killed after its save, before it published and removed its files:
// the next run does both.
TEST_F(RunJournalTest, ARunKilledAfterItsSaveIsCompleted) {
  write_file("file.ic", "the store before the run");
  write_file("inbox/north1", "a message");
  platform::make_directory(exchange::outbox_dir);
  write_file(std::string(exchange::staging_dir) + "/east1", "an outgoing message");
  write_file(site::journal_file, "store " + platform::file_identity("file.ic").value_or("?") +
                                     "\ntaken inbox/north1\n");
  ASSERT_TRUE(platform::replace_file("file.ic", "the store after the run", nullptr));
  // killed here
  site::run_journal::recover(out_);
  EXPECT_EQ("an outgoing message", read_file(std::string(exchange::outbox_dir) + "/east1"));
  EXPECT_TRUE(test_util::list_dir(exchange::staging_dir).empty());
  EXPECT_FALSE(read_file("inbox/north1"));
  EXPECT_FALSE(read_file(site::journal_file));
  EXPECT_NE(std::string::npos, trace().find("its messages are completed"));
}

// Staged files without a journal belong to a run killed before it noted
// anything: they are dropped, and nothing else changes.
TEST_F(RunJournalTest, StagedFilesWithoutAJournalAreDropped) {
  write_file(std::string(exchange::staging_dir) + "/east1", "an outgoing message");
  write_file("name_db", "1\na\nsrv1\nnorth\nNOTE\n1\ns\n");
  site::run_journal::recover(out_);
  EXPECT_TRUE(test_util::list_dir(exchange::staging_dir).empty());
  EXPECT_EQ("1\na\nsrv1\nnorth\nNOTE\n1\ns\n", read_file("name_db"));
}

// A journal is acted on only as far as it can be checked: lines that name
// other files, sizes it cannot vouch for and cuts of records the killed run
// did not append are reported and left alone.
TEST_F(RunJournalTest, AJournalIsActedOnOnlyAsFarAsItCanBeChecked) {
  const std::string names = "1\na\nsrv1\nnorth\nNOTE\n1\ns\n2\nb\nsrv1\nnorth\nNOTE\n2\ns\n";
  write_file("name_db", names);
  write_file("vantle_db", "a\ndoc\n");
  write_file("file.ic", "id: 1\nid: 2\n");
  write_file("config.txt", "settings");
  write_file("../outside", "a file beside the site");
  const std::string journals[] = {
      "name_db 0\nvantle_db 0\n",                        // no fingerprint: unchecked
      "name_db 20 0123456789abcdef\n",                   // inside a record
      "taken config.txt\ntaken ../outside\ntaken /etc/hostname\ntaken inbox/../config.txt\n",
      "store 1:1\ntaken config.txt\n",
  };
  for (const std::string& journal : journals) {
    write_file(site::journal_file, journal);
    site::run_journal::recover(out_);
    EXPECT_EQ(names, read_file("name_db")) << journal;
    EXPECT_EQ("a\ndoc\n", read_file("vantle_db")) << journal;
    EXPECT_EQ("settings", read_file("config.txt")) << journal;
    EXPECT_EQ("a file beside the site", read_file("../outside")) << journal;
    EXPECT_NE(std::string::npos, page().find("which is left alone")) << journal << page();
    page_.str("");
  }
  ::unlink("../outside");

  // A journal noted before a name record is cut back to it; one that would
  // cut a record of a stored cell is not acted on.
  {
    site::run_journal journal(out_);
    journal.before_naming_change();
  }
  std::string noted = *read_file(site::journal_file);
  ASSERT_TRUE(platform::append_file("name_db", "3\nc\nsrv1\nnorth\nNOTE\n3\ns\n", nullptr));
  site::run_journal::recover(out_);
  EXPECT_EQ(names, read_file("name_db")) << "the killed run's record is cut";
  EXPECT_EQ("", page());
  ASSERT_TRUE(platform::append_file("name_db", "3\nc\nsrv1\nnorth\nNOTE\n3\ns\n", nullptr));
  write_file("file.ic", "id: 1\nid: 2\nid: 3\n");  // saved by a later run after all
  write_file(site::journal_file, noted);
  site::run_journal::recover(out_);
  EXPECT_NE(std::string::npos, read_file("name_db")->find("\nc\n")) << "a stored cell's name stays";
  EXPECT_NE(std::string::npos, page().find("a record to be cut names a stored cell")) << page();
}

TEST_F(RunJournalTest, AJournalThatIsADirectoryStopsTheRun) {
  ASSERT_EQ(0, ::mkdir(site::journal_file, 0755));
  write_file(std::string(exchange::held_dir) + "/north1", "a message");
  EXPECT_EQ(1, test_util::exit_status_of([&] { site::run_journal::recover(out_); }));
  EXPECT_NE(std::string::npos, page().find("can't read the run journal run.journal: Is a directory"))
      << page();
  EXPECT_EQ("a message", read_file(std::string(exchange::held_dir) + "/north1"))
      << "nothing is undone or completed";

  // A run that cannot note its changes makes none.
  write_file("name_db", "1\na\nsrv1\nnorth\nNOTE\n1\ns\n");
  page_.str("");
  site::run_journal journal(out_);
  EXPECT_EQ(1, test_util::exit_status_of([&] { journal.before_naming_change(); }));
  EXPECT_NE(std::string::npos, page().find("Error: can't write the run journal run.journal"))
      << page();
}

// A pick-up killed before its save, whose store is then put back by hand
// from a backup (a copy renamed into place, newer than the journal): the
// run is undone, and its messages go back to inbox.
TEST_F(RunJournalTest, AStorePutBackByHandIsNotTakenForTheSave) {
  write_file("file.ic", "the store before the run");
  platform::make_directory(exchange::inbox_dir);
  write_file(std::string(exchange::held_dir) + "/north1", "a message");
  write_file(site::journal_file, "saved 23 0123456789abcdef\n");
  write_file("copy", "a store from BACKUP");
  ASSERT_EQ(0, ::rename("copy", "file.ic"));
  site::run_journal::recover(out_);
  EXPECT_EQ("a message", read_file("inbox/north1"));
  EXPECT_TRUE(test_util::list_dir(exchange::held_dir).empty());
  EXPECT_NE(std::string::npos, trace().find("its changes are undone"));
}

}  // namespace
