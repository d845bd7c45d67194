// Black-box tests of tagwell: the console driver in a fresh directory.
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;

TEST(TagwellCli, RegistersTheTestNameOnce) {
  test_util::scoped_temp_dir dir;
  test_util::run_result first = test_util::run_program(test_util::program_path("tagwell"),
                                                       dir.path(), {});
  EXPECT_EQ(0, first.status);
  EXPECT_EQ("ic_id = 1\n", first.out);
  EXPECT_EQ("tagwell test name\ntagwell test server\ntagwell test site\nMAP\n1\ns\n",
            read_file(dir / "name_db"));
  EXPECT_EQ("2", read_file(dir / "ic_id_counter"));

  test_util::run_result second = test_util::run_program(test_util::program_path("tagwell"),
                                                        dir.path(), {});
  EXPECT_EQ(0, second.status);
  EXPECT_EQ("The given symbolic name tagwell test name has already been used!! \nic_id = -1\n",
            second.out);
  EXPECT_EQ("2", read_file(dir / "ic_id_counter"));
  EXPECT_EQ((std::vector<std::string>{"ic_id_counter", "name_db"}), test_util::list_dir(dir.path()));
}

}  // namespace
