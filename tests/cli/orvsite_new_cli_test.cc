// Black-box tests of sites as `orvsite new` lays them out with its
// defaults: they answer each other's queries.
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::run_result;

run_result orvsite(const std::vector<std::string>& args) {
  return test_util::run_program_args(test_util::program_path("orvsite"), args, "/", {});
}

// North and east laid out side by side (as on one machine) by `orvsite new`
// with nothing but their ids: the sample table, keywords and transfer
// scripts, and the default thresholds.
class NewSites : public ::testing::Test {
 protected:
  NewSites() {
    int n = 1;
    for (const char* site : {"north", "east"}) {
      run_result r = orvsite({"new", dir(site), "--server-id", "srv" + std::to_string(n++),
                              "--orv-id", site});
      EXPECT_EQ(0, r.status) << r.err;
      said_[site] = r.out;
    }
  }

  // The second of the minute of the cron line `orvsite new` gave `site`
  // (-1 when it gave none).
  int cron_second(const std::string& site) {
    const std::string& out = said_[site];
    size_t at = out.find("* * * * * www-data sleep ");
    if (at == std::string::npos) return -1;
    return std::stoi(out.substr(at + 25));
  }

  std::map<std::string, std::string> said_;  // what `orvsite new` printed, per site

  std::string dir(const std::string& site) const { return root_ / site; }

  run_result get(const std::string& site, const std::string& query) {
    return test_util::run_program(dir(site) + "/orv.cgi", dir(site),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  // The manager page's create form for a vantle of `type` about `i_am`.
  run_result create(const std::string& site, const std::string& doc_id, const std::string& i_am,
                    const std::string& type) {
    return get(site, "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9"
                     "&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate"
                     "&ic_par_5=i_behave&ic_par_6=i_keyword&ic_par_7=i_comment"
                     "&ic_par_8=vantle_type&ic_par_9=sym_name&doc_id=" + doc_id +
                     "&i_am=" + i_am + "%23%21&i_love=%21&i_hate=%21&i_behave=%21"
                     "&i_keyword=lenses%23%21&i_comment=notes%23%21&vantle_type=" + type +
                     "&sym_name=" + doc_id);
  }

  test_util::scoped_temp_dir root_;
};

TEST_F(NewSites, AnswerAQueryInNearbyWords) {
  EXPECT_EQ(
      "server id: srv1\norv id: north\nretrieval threshold: 1\n"
      "virtual site distance threshold: 9\nmax. vantle# threshold: 3\nemail address: NULL\n",
      test_util::read_file(dir("north") + "/html/config.txt"));
  // East holds a document about optics; north asks about mechanics, its
  // sibling in the sample keywords.
  ASSERT_EQ(0, create("east", "doc-lens", "optics", "Archives").status);
  ASSERT_EQ(0, create("north", "q-1", "mechanics", "Info_Gathering").status);
  for (const char* site : {"north", "east", "north"}) {
    run_result r = orvsite({"exchange", dir(site)});
    ASSERT_EQ(0, r.status) << site << ": " << r.err;
  }
  run_result shown =
      get("north", "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_VANTLE_RESULT");
  EXPECT_NE(std::string::npos, shown.out.find("Doc id: doc-lens#!<br>\nI am: optics#!<br>\n"))
      << shown.out;
}

// Sites whose machines' clocks agree must not all exchange at the same
// second: a query would wait a minute more at each of them. Each site's
// cron line sleeps for a second of the minute of its own.
TEST_F(NewSites, CronLinesFireAtSecondsOfTheirOwn) {
  std::string orvsite_path =
      std::filesystem::canonical(test_util::program_path("orvsite")).string();
  EXPECT_NE(std::string::npos,
            said_["east"].find("\n  * * * * * www-data sleep 32; " + orvsite_path +
                               " exchange --keep 500 " + dir("east") + "\n"))
      << said_["east"];
  run_result south = orvsite({"new", dir("south"), "--server-id", "srv3", "--orv-id", "south"});
  ASSERT_EQ(0, south.status) << south.err;
  said_["south"] = south.out;
  std::set<int> seconds;
  for (const char* site : {"north", "east", "south"}) {
    int second = cron_second(site);
    EXPECT_TRUE(second >= 0 && second < 60) << site << ": " << said_[site];
    seconds.insert(second);
  }
  EXPECT_EQ(3u, seconds.size());
  // A site directory given relative to where orvsite runs, and with a blank:
  // the line names it absolute and quoted.
  run_result spaced = test_util::run_program_args(
      test_util::program_path("orvsite"),
      {"new", "my site", "--server-id", "srv4", "--orv-id", "west"}, root_.path(), {});
  ASSERT_EQ(0, spaced.status) << spaced.err;
  EXPECT_NE(std::string::npos,
            spaced.out.find(" exchange --keep 500 '" + dir("my site") + "'\n"))
      << spaced.out;
}

}  // namespace
