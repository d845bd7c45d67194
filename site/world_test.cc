#include "site/world.h"

#include <sstream>

#include "gtest/gtest.h"
#include "site/config.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::write_file;

// Each test works in a fresh directory, as a run works in `html`.
using WorldTest = test_util::in_run_dir;
using test_util::exit_status_of;

TEST_F(WorldTest, ReadsBothFiles) {
  write_file("site.config", "2 0 north 1 east 0 3 3 0\n");
  write_file("kb.txt", "science (\nphysics\ncomputing ( retrieval databases )\n)\n");
  site::world w{*site::site_table::parse("0", nullptr),
                *site::parse_knowledge_base("", nullptr)};
  EXPECT_EQ(-2, exit_status_of([&] { w = site::read_world(out_); }));
  EXPECT_EQ(2, w.sites.count());
  EXPECT_EQ(std::vector<std::string>{"east"}, site::query_sites(w.sites, "NORTH", 9, out_));
  EXPECT_TRUE(w.kb.keywords.find("retrieval databases"));
  EXPECT_EQ("Universal", w.kb.groups.at(site::keyword_tree::root).name);
  EXPECT_EQ("", page());
}

TEST_F(WorldTest, MissingFilesEndTheRunWithStatusOne) {
  EXPECT_EQ(1, exit_status_of([&] { site::read_world(out_); }));
  EXPECT_EQ("Cannot find file site.config\n", page());
  EXPECT_EQ("Cannot find file site.config\n", trace());

  page_.str("");
  write_file("site.config", "0\n");
  EXPECT_EQ(1, exit_status_of([&] { site::read_world(out_); }));
  EXPECT_EQ("Cannot open data file kb.txt\n", page());
  EXPECT_EQ("Cannot find file site.config\nCannot open data file kb.txt\n", trace());
}

TEST_F(WorldTest, DamagedFilesAreRefusedWithOneLine) {
  write_file("site.config", "101\n");
  EXPECT_EQ(1, exit_status_of([&] { site::read_site_table(out_); }));
  EXPECT_EQ(
      "The data file site.config is damaged: the number of sites 101 is not between 0 and "
      "100\n",
      page());

  page_.str("");
  write_file("kb.txt", "a\n" + std::string(81, 'x') + "\n");
  EXPECT_EQ(1, exit_status_of([&] { site::read_knowledge_base(out_); }));
  EXPECT_EQ("The data file kb.txt is damaged: line 2: a keyword is longer than 80 characters\n",
            page());
  EXPECT_NE(std::string::npos, trace().find("The data file kb.txt is damaged: line 2:"));
}

// The sample site data shipped in samples/site, which the demo and the
// black-box tests use: three sites, each nearer than 9 only to its
// neighbours.
TEST_F(WorldTest, SampleSitesAreConsistent) {
  std::string samples = std::string(SOURCE_DIR) + "/samples/site/";
  std::optional<std::string> table = read_file(samples + "site.config");
  std::optional<std::string> kb = read_file(samples + "kb.txt");
  ASSERT_TRUE(table && kb) << samples;
  write_file("site.config", *table);
  write_file("kb.txt", *kb);
  site::world w = site::read_world(out_);
  EXPECT_TRUE(w.kb.keywords.find("retrieval databases"));
  EXPECT_EQ(0, site::keyword_match(w.kb.keywords, "jazz#!", "physics#!", 1));

  const std::vector<std::string> want[] = {{"east"}, {"north", "south"}, {"east"}};
  int i = 0;
  for (const char* name : {"north", "east", "south"}) {
    std::optional<std::string> cfg_text = read_file(samples + name + "/config.txt");
    ASSERT_TRUE(cfg_text) << name;
    write_file("config.txt", *cfg_text);
    site::site_config cfg = site::read_config(out_);
    EXPECT_EQ(name, cfg.orv_id);
    EXPECT_EQ(want[i++], site::query_sites(w.sites, cfg.orv_id, cfg.vg_threshold, out_)) << name;
  }
  EXPECT_EQ("", page());
}

}  // namespace
