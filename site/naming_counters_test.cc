#include "site/naming_counters.h"

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::write_file;

using CountersTest = test_util::in_temp_dir;

TEST_F(CountersTest, IcIdsStartAtOneAndAdvance) {
  EXPECT_EQ(1, site::next_ic_id());
  EXPECT_EQ("2", read_file("ic_id_counter")) << "one number without a line end";
  EXPECT_EQ(2, site::next_ic_id());
  write_file("ic_id_counter", "");
  EXPECT_EQ(1, site::next_ic_id()) << "an empty counter means 1";
  write_file("ic_id_counter", "41\nrest");
  EXPECT_EQ(41, site::next_ic_id());
  EXPECT_EQ("42", read_file("ic_id_counter"));
  write_file("ic_id_counter", "-7");
  EXPECT_EQ(1, site::next_ic_id()) << "no id below 1 is handed out";
}

TEST_F(CountersTest, NameNumbersReturnTheStoredText) {
  EXPECT_EQ("0", site::next_name_number());
  EXPECT_EQ("1", read_file("name_counter"));
  EXPECT_EQ("1", site::next_name_number());
  write_file("name_counter", "4");
  EXPECT_EQ("4", site::next_name_number());
  EXPECT_EQ("5", read_file("name_counter"));
  EXPECT_EQ((std::vector<std::string>{"name_counter"}), test_util::list_dir(dir_.path()));
}

}  // namespace
