// Black-box tests of orvsite, the operator's command, on sites laid out in
// fresh temporary directories.
#include <sys/stat.h>

#include <filesystem>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string samples = SAMPLES_DIR;

run_result orvsite(const std::vector<std::string>& args, const std::string& dir = "/") {
  return test_util::run_program_args(test_util::program_path("orvsite"), args, dir, {});
}

// The manager page's create form for a vantle of `type` about `i_am`.
std::string create_form(const std::string& doc_id, const std::string& i_am,
                        const std::string& type, const std::string& name) {
  return "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9"
         "&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave"
         "&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name"
         "&doc_id=" + doc_id + "&i_am=" + i_am +
         "&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21"
         "&i_comment=notes%23%21&vantle_type=" + type + "&sym_name=" + name;
}

// Two sample sites, north and east, side by side as on one machine, each
// with orv installed as orv.cgi and the sample transfer scripts.
class OrvsiteExchange : public ::testing::Test {
 protected:
  OrvsiteExchange() {
    for (const char* site : {"north", "east"}) {
      std::string html = root_ / (std::string(site) + "/html");
      std::filesystem::create_directories(html);
      for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) copy(samples + "/" + f, html + "/" + f);
      copy(samples + "/" + site + "/config.txt", html + "/config.txt");
      for (const char* f : {"orv_ftp_get.cmd", "orv_ftp_put.cmd"}) {
        copy(samples + "/" + f, html + "/" + f);
        ::chmod((html + "/" + f).c_str(), 0755);
      }
      std::filesystem::copy_file(test_util::program_path("orv"), site_dir(site) + "/orv.cgi");
    }
  }

  static void copy(const std::string& from, const std::string& to) {
    std::optional<std::string> text = read_file(from);
    ASSERT_TRUE(text) << from;
    write_file(to, *text);
  }

  std::string site_dir(const std::string& site) { return root_ / site; }

  run_result get(const std::string& site, const std::string& query) {
    return test_util::run_program(site_dir(site) + "/orv.cgi", site_dir(site),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  test_util::scoped_temp_dir root_;
};

TEST_F(OrvsiteExchange, SendsThenPicksUpAndIsQuietWhenNothingMoves) {
  // An information-gathering vantle of north asks east: one file in outbox.
  ASSERT_EQ(0, get("north", create_form("q-1", "mechanics%23%21", "Info_Gathering", "ask")).status);
  ASSERT_EQ(1u, test_util::list_dir(site_dir("north") + "/html/outbox").size());

  run_result sent = orvsite({"exchange", site_dir("north")});
  EXPECT_EQ(0, sent.status) << sent.err;
  EXPECT_EQ(site_dir("north") + ": sent 1 message, picked up 0 messages\n", sent.out);
  EXPECT_TRUE(test_util::list_dir(site_dir("north") + "/html/outbox").empty());

  run_result picked = orvsite({"exchange", site_dir("east")});
  EXPECT_EQ(0, picked.status) << picked.err;
  EXPECT_EQ(site_dir("east") + ": sent 0 messages, picked up 1 message\n", picked.out);
  EXPECT_TRUE(test_util::list_dir(site_dir("east") + "/html/inbox").empty());

  run_result quiet = orvsite({"exchange", site_dir("north")});
  EXPECT_EQ(0, quiet.status) << quiet.err;
  EXPECT_EQ("", quiet.out);
  EXPECT_EQ("", quiet.err);
}

TEST_F(OrvsiteExchange, AFailingManagerFailsTheExchange) {
  write_file(site_dir("east") + "/html/file.ic", "not a store\n");
  run_result r = orvsite({"exchange", site_dir("east")});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("ended with status 1 on message_type=SYS_PICK_UP_MSG"))
      << r.err;
}

TEST_F(OrvsiteExchange, ADirectoryWithoutASiteIsRefused) {
  run_result r = orvsite({"exchange", root_.path()});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("orvsite exchange: " + root_.path() + " is not a site (no " + root_.path() +
                "/html/config.txt)\n",
            r.err);
}

}  // namespace
