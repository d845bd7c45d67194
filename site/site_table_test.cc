#include "site/site_table.h"

#include <sstream>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using site::site_table;

// north (0), east (1), south (2); north is 4 from east and 12 from south.
const char* const three_sites =
    "3\n"
    "0 north\n"
    "2 south\n"
    "1 east\n"
    "0 4 12\n"
    "4 0 -3\n"
    "12 9 0\n";

site_table parse_ok(const std::string& text) {
  std::string err;
  std::optional<site_table> t = site_table::parse(text, &err);
  EXPECT_TRUE(t) << err;
  return t ? *t : *site_table::parse("0", nullptr);
}

using test_util::exit_status_of;

TEST(SiteTable, ReadsNamesByIndexAndDistancesRowByRow) {
  site_table t = parse_ok(three_sites);
  ASSERT_EQ(3, t.count());
  EXPECT_EQ("north", t.name(0));
  EXPECT_EQ("east", t.name(1));
  EXPECT_EQ("south", t.name(2));
  EXPECT_EQ(12, t.distance(0, 2));
  EXPECT_EQ(-3, t.distance(1, 2));
  EXPECT_EQ(9, t.distance(2, 1));
  EXPECT_EQ(0, parse_ok("0").count());
  EXPECT_EQ(1, parse_ok("1 0 only 0 trailing tokens 7 are ignored").count());
}

TEST(SiteTable, QuerySitesLieStrictlyBetweenZeroAndTheThreshold) {
  site_table t = parse_ok(three_sites);
  std::ostringstream page;
  formdecode::output out(page);
  EXPECT_EQ((std::vector<std::string>{"east"}), site::query_sites(t, "north", 9, out));
  EXPECT_EQ((std::vector<std::string>{"east", "south"}), site::query_sites(t, "north", 13, out));
  EXPECT_EQ((std::vector<std::string>{"east"}), site::query_sites(t, "north", 12, out))
      << "a distance equal to the threshold is not near";
  EXPECT_EQ((std::vector<std::string>{"north"}), site::query_sites(t, "east", 1000, out))
      << "a negative distance never makes a query site";
  EXPECT_TRUE(site::query_sites(t, "south", 9, out).empty())
      << "the default threshold 9 leaves out a distance of exactly 9";
  EXPECT_EQ((std::vector<std::string>{"east"}), site::query_sites(t, "south", 10, out));
  EXPECT_TRUE(site::query_sites(t, "north", 0, out).empty());
  EXPECT_EQ("", page.str());
}

TEST(SiteTable, SiteIndexIgnoresCaseAndChangesNoName) {
  site_table t = parse_ok("2 0 site_a 1 site_b 0 1 1 0");
  std::ostringstream page;
  formdecode::output out(page);
  std::string id = "SITE_B";
  EXPECT_EQ(1, site::site_index(t, id, out));
  EXPECT_EQ(1, site::site_index(t, "Site_B", out));
  EXPECT_EQ("site_b", t.name(1)) << "the table keeps its spelling";
  EXPECT_EQ("SITE_B", id);
  EXPECT_EQ((std::vector<std::string>{"site_b"}), site::query_sites(t, "SITE_A", 9, out));
}

TEST(SiteTable, UnknownSiteEndsTheRun) {
  site_table t = parse_ok(three_sites);
  std::ostringstream page;
  formdecode::output out(page);
  EXPECT_EQ(1, exit_status_of([&] { site::site_index(t, "west<", out); }));
  EXPECT_EQ("Invalid site name:west&lt;\n", page.str());
  EXPECT_EQ(1, exit_status_of([&] { site::query_sites(t, "", 9, out); }));
}

TEST(SiteTable, RefusesFilesBeyondTheTable) {
  std::string many = "101";
  struct {
    std::string text;
    std::string err;
  } cases[] = {
      {"", "the file ends before the number of sites"},
      {"three", "the number of sites is not a number: three"},
      {"101", "the number of sites 101 is not between 0 and 100"},
      {"-1", "the number of sites -1 is not between 0 and 100"},
      {"2 0 a 2 b", "site index 2 is out of range"},
      {"2 0 a -1 b", "site index -1 is out of range"},
      {"2 0 a 0 b", "site index 0 is given twice"},
      {"2 0 a 1", "the file ends before the name of site 1"},
      {"1 0 abcdefghijklmnopqrstu 0",
       "site name abcdefghijklmnopqrstu is longer than 20 characters"},
      {"2 0 a 1 b 0 1 1", "the file ends before the distance from site 1 to site 1"},
      {"2 0 a 1 b 0 1 x 0", "the distance from site 1 to site 0 is not a number: x"},
      {"1 0 a 99999999999", "the distance from site 0 to site 0 is not a number: 99999999999"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_FALSE(site_table::parse(c.text, &err)) << c.text;
    EXPECT_EQ(c.err, err) << c.text;
  }
  // The largest table and the longest name are fine.
  std::string big = "100";
  for (int i = 0; i < 100; ++i) {
    big += ' ';
    big += std::to_string(i);
    big += " s";
    big += std::to_string(i);
  }
  for (int i = 0; i < 100 * 100; ++i) big += " 1";
  site_table t = parse_ok(big);
  EXPECT_EQ(100, t.count());
  EXPECT_EQ("abcdefghijklmnopqrst", parse_ok("1 0 abcdefghijklmnopqrst 0").name(0));
}

}  // namespace
