#include "site/run_journal.h"

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

}  // namespace
