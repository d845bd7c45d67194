#include "programs/tagwell/naming.h"

#include <unistd.h>

#include <sstream>

#include "gtest/gtest.h"
#include "programs/tagwell/driver.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::write_file;

class TagwellNaming : public test_util::in_temp_dir {
 protected:
  std::string run(char kind) {
    std::ostringstream out;
    tagwell::run(kind, out);
    return out.str();
  }
};

TEST_F(TagwellNaming, RegisterTwiceAndLookUp) {
  EXPECT_EQ("ic_id = 1\n", run('N'));
  EXPECT_EQ("tagwell test name\ntagwell test server\ntagwell test site\nMAP\n1\ns\n",
            read_file("name_db"));
  EXPECT_EQ("2", read_file("ic_id_counter"));

  EXPECT_EQ(
      "The given symbolic name tagwell test name has already been used!! \nic_id = -1\n",
      run('N'));
  EXPECT_EQ("2", read_file("ic_id_counter")) << "a refused name consumes no id";

  // Each of the four texts still carries its line end, so an empty line follows.
  EXPECT_EQ("tagwell test name\n\ntagwell test server\n\ntagwell test site\n\nMAP\n\n1\ns\n",
            run('L'));
  EXPECT_EQ("Unknown Naming Service Request\n", run('X'));
}

TEST_F(TagwellNaming, LookUpWithoutDatabase) { EXPECT_EQ("NOT FOUND\n", run('L')); }

TEST_F(TagwellNaming, StoredNameThatBeginsWithTheTestNameRefuses) {
  write_file("name_db", "tagwell test name 2\ns\no\nMAP\n7\ns\n");
  EXPECT_EQ(
      "The given symbolic name tagwell test name has already been used!! \nic_id = -1\n",
      run('N'));
  // The other way round is no match: a given name longer than the stored one.
  std::ostringstream out;
  EXPECT_FALSE(tagwell::name_exists("tagwell test name 22", out));
  EXPECT_TRUE(tagwell::name_exists("", out)) << "an empty name finds the first record";
}

TEST_F(TagwellNaming, IncompleteLastRecordCountsAsNotFound) {
  write_file("ic_id_counter", "5");
  write_file("name_db", "other\r\nsrv\r\norv\r\nT\r\n3\r\ns\r\ntagwell test name\nsrv\n");
  EXPECT_EQ("Error: the last record is not complete!!\nic_id = 5\n", run('N'));
  EXPECT_EQ(
      "other\r\nsrv\r\norv\r\nT\r\n3\r\ns\r\ntagwell test name\nsrv\n"
      "tagwell test name\ntagwell test server\ntagwell test site\nMAP\n5\ns\n",
      read_file("name_db"));
}

TEST_F(TagwellNaming, OverlongTextIsRefusedNotCut) {
  tagwell::name_record rec = tagwell::test_record();
  rec.symbolic_name = std::string(50, 'n');
  std::ostringstream out;
  EXPECT_EQ(tagwell::field_too_long, tagwell::register_name(rec, out));
  EXPECT_NE(std::string::npos, out.str().find("at most 49 characters"));
  EXPECT_FALSE(read_file("name_db"));
  EXPECT_FALSE(read_file("ic_id_counter"));
}

TEST_F(TagwellNaming, UnregistrableDatabaseKeepsTheConsumedId) {
  ASSERT_EQ(0, ::mkdir("name_db", 0755));  // a directory cannot be appended to
  tagwell::name_record rec = tagwell::test_record();
  std::ostringstream out;
  EXPECT_EQ(tagwell::db_unwritable, tagwell::register_name(rec, out));
  EXPECT_EQ(1, rec.ic_id);
  EXPECT_EQ("", out.str());
  EXPECT_EQ("2", read_file("ic_id_counter"));
}

TEST_F(TagwellNaming, UniqueNames) {
  std::ostringstream out;
  EXPECT_EQ("doc", tagwell::unique_name("doc", out));
  write_file("name_db", "doc\ns\no\nT\n1\ns\n");
  write_file("name_counter", "4");
  EXPECT_EQ("doc_4", tagwell::unique_name("doc", out));
  EXPECT_EQ("5", read_file("name_counter"));
  EXPECT_EQ("IC_5", tagwell::unique_name("", out));
  EXPECT_EQ("unique name = doc\nunique name = doc_4\nunique name = IC_5\n", out.str());

  // A result that would not fit the 49-character field is refused, not cut.
  std::string long_base(48, 'd');
  write_file("name_db", long_base + "\ns\no\nT\n1\ns\n");
  std::ostringstream refused;
  EXPECT_EQ("", tagwell::unique_name(long_base, refused));
  EXPECT_EQ("The name " + long_base + "_6 is longer than 49 characters!!\n", refused.str());
}

}  // namespace
