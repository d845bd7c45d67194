#include "site/config.h"

#include <sstream>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::write_file;

const char* const default_file =
    "server id: undefined\n"
    "orv id: undefined\n"
    "retrieval threshold: 0\n"
    "virtual site distance threshold: 9\n"
    "max. vantle# threshold: 3\n"
    "email address: NULL\n";

// Each test works in a fresh directory, as a run works in `html`.
using ConfigTest = test_util::in_run_dir;
using test_util::exit_status_of;

TEST_F(ConfigTest, MissingFileIsCreatedWithDefaultsAndRunEnds) {
  EXPECT_EQ(0, exit_status_of([&] { site::read_config(out_); }));
  EXPECT_EQ(default_file, read_file("config.txt"));
  EXPECT_EQ(
      "Creating the configuration file: config.txt and initialize the parameters:<p>"
      "SERVER ID = undefined <p> \n"
      "ORV ID = undefined <p> \n"
      "RETRIEVE THRESHOLD = 0.<p> \n"
      "VIRTUAL SITE DISTANCE THRESHOLD = 9.<p> \n"
      "MAXIMUM VANTLES THRESHOLD = 3.<p> \n"
      "*** To start using this virtual site, <br> \t\t\t   please go to \"Change "
      "Configuration\" <br> \t\t       to configurate your server id and orv id.<p>",
      page());
}

TEST_F(ConfigTest, ReadsTheSixSettings) {
  write_file("config.txt",
             "server id: srv two words\r\norv id: north\nretrieval threshold: 2\n"
             "virtual site distance threshold: 5\nmax. vantle# threshold: 4\n"
             "email address: a@b.c\n");
  site::site_config cfg;
  EXPECT_EQ(-2, exit_status_of([&] { cfg = site::read_config(out_); }));
  EXPECT_EQ("srv", cfg.server_id) << "a text is read up to its first white space";
  EXPECT_EQ("north", cfg.orv_id);
  EXPECT_EQ(2, cfg.retrieve_threshold);
  EXPECT_EQ(5, cfg.vg_threshold);
  EXPECT_EQ(4, cfg.max_vantle_threshold);
  EXPECT_EQ("a@b.c", cfg.email);
  EXPECT_EQ("", page());
}

TEST_F(ConfigTest, DamagedFileIsRefusedAndKept) {
  const std::string damaged =
      "server id: s\norv id: o\nretrieval: 2\nvirtual site distance threshold: 5\n"
      "max. vantle# threshold: 4\nemail address: e\n";
  write_file("config.txt", damaged);
  EXPECT_EQ(1, exit_status_of([&] { site::read_config(out_); }));
  EXPECT_EQ(
      "The configuration file config.txt is damaged: line 3 must begin with "
      "\"retrieval threshold: \".<p>\n",
      page());
  EXPECT_EQ(damaged, read_file("config.txt"));

  write_file("config.txt", "server id: s\norv id: o\n");
  page_.str("");
  EXPECT_EQ(1, exit_status_of([&] { site::read_config(out_); })) << "a truncated file is damaged";
  EXPECT_NE(std::string::npos, page().find("line 3"));

  write_file("config.txt", std::string(default_file).replace(0, 20, "server id: "));
  page_.str("");
  EXPECT_EQ(1, exit_status_of([&] { site::read_config(out_); })) << "a label without a value";
  EXPECT_NE(std::string::npos, page().find("line 1"));
}

TEST_F(ConfigTest, UpdateKnownKeysRewritesFile) {
  site::site_config cfg;
  site::update_config(cfg, "VG_THRESHOLD|5|NULL", out_);
  EXPECT_EQ(5, cfg.vg_threshold);
  EXPECT_EQ("\"VG_THRESHOLD\" is updated with the new value \"5\".\n", page());
  EXPECT_EQ("\"VG_THRESHOLD\" is updated with value 5.\n", trace());
  EXPECT_EQ(std::string(
                "server id: undefined\norv id: undefined\nretrieval threshold: 0\n"
                "virtual site distance threshold: 5\nmax. vantle# threshold: 3\n"
                "email address: NULL\n"), read_file("config.txt"));

  site::update_config(cfg, "SERVER_ID|two words|NULL", out_);
  EXPECT_NE(std::string::npos, read_file("config.txt")->find("server id: two words\n"));
  EXPECT_EQ("two", site::read_config(out_).server_id);

  site::update_config(cfg, "ORV_ID|south", out_);
  site::update_config(cfg, "SET_EMAIL_ADDRESS|me@site", out_);
  site::update_config(cfg, "RETRIEVE_THRESHOLD| 7 ", out_);
  site::update_config(cfg, "MAX_VANTLE_THRESHOLD|-2", out_);
  site::site_config back = site::read_config(out_);
  EXPECT_EQ("south", back.orv_id);
  EXPECT_EQ("me@site", back.email);
  EXPECT_EQ(7, back.retrieve_threshold);
  EXPECT_EQ(-2, back.max_vantle_threshold);
}

TEST_F(ConfigTest, BadUpdatesChangeNothing) {
  site::site_config cfg;
  site::write_config(cfg, out_);
  std::string before = *read_file("config.txt");

  site::update_config(cfg, "COLOR|blue|NULL", out_);
  EXPECT_EQ("Unknown Choice \"COLOR\" with value blue.\n", page());
  EXPECT_EQ("Unknown Choice \"COLOR\" with value blue.\n", trace());

  page_.str("");
  site::update_config(cfg, "VG_THRESHOLD", out_);
  site::update_config(cfg, "|5", out_);
  site::update_config(cfg, "ORV_ID||NULL", out_);
  site::update_config(cfg, "ORV_ID|" + std::string(50, 'x'), out_);
  EXPECT_EQ(
      "The update \"VG_THRESHOLD\" is not a choice, \"|\" and a value.\n"
      "The update \"|5\" is not a choice, \"|\" and a value.\n"
      "The choice \"ORV_ID\" is given without a value.\n"
      "The value of \"ORV_ID\" is longer than 49 characters.\n",
      page());
  EXPECT_EQ(before, read_file("config.txt"));
  EXPECT_EQ(site::site_config().orv_id, cfg.orv_id);
}

TEST_F(ConfigTest, ShowLeavesOutEmail) {
  site::site_config cfg;
  cfg.server_id = "<s>";
  cfg.email = "hidden@x";
  site::show_config(cfg, out_.pg());
  EXPECT_EQ(std::string::npos, page().find("hidden"));
  EXPECT_EQ(0u, page().find("SERVER ID = &lt;s&gt; <p> \n"));
}

}  // namespace
