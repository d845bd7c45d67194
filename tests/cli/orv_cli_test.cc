// Black-box tests of orv: the built program run as a web server runs it, in
// a fresh site directory, with the page, exit status and files checked.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& header = test_util::cgi_header;

const char* const configured = test_util::north_config;

class OrvCli : public ::testing::Test {
 protected:
  OrvCli() { ::mkdir((site_ / "html").c_str(), 0755); }

  std::string html(const std::string& rel) { return site_ / ("html/" + rel); }

  run_result get(const std::string& query) {
    return test_util::run_program(test_util::program_path("orv"), site_.path(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  void configure() { write_file(html("config.txt"), configured); }

  test_util::scoped_temp_dir site_;
};

TEST_F(OrvCli, FirstRunPreparesTheSite) {
  run_result r = get("message_type=MSG_SHOW_CONFIG&flag=orv");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header +
                "Creating the configuration file: config.txt and initialize the parameters:<p>"
                "SERVER ID = undefined <p> \nORV ID = undefined <p> \n"
                "RETRIEVE THRESHOLD = 0.<p> \nVIRTUAL SITE DISTANCE THRESHOLD = 9.<p> \n"
                "MAXIMUM VANTLES THRESHOLD = 3.<p> \n"
                "*** To start using this virtual site, <br> \t\t\t   please go to \"Change "
                "Configuration\" <br> \t\t       to configurate your server id and orv id.<p>",
            r.out);
  EXPECT_EQ((std::vector<std::string>{"config.txt", "dump_file", "inbox", "outbox", "run.lock"}),
            test_util::list_dir(site_ / "html"));
  EXPECT_EQ(
      "server id: undefined\norv id: undefined\nretrieval threshold: 0\n"
      "virtual site distance threshold: 9\nmax. vantle# threshold: 3\nemail address: NULL\n",
      read_file(html("config.txt")));
  struct stat st;
  ASSERT_EQ(0, ::stat(html("config.txt").c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 0022u) << "site files are not group or world writable";
}

TEST_F(OrvCli, RequestWithoutQueryIsRefusedBeforeTouchingTheSite) {
  run_result r = test_util::run_program(test_util::program_path("orv"), site_.path(),
                                        {{"REQUEST_METHOD", "GET"}});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(header + "<p>The 'formpump' program couldn't find a query to\nprocess.\n\n", r.out);
  EXPECT_TRUE(test_util::list_dir(site_ / "html").empty());
}

TEST_F(OrvCli, ASmallStoreRunsWithoutTheRestartForLargePages) {
  // The fetch script tells the environment the run gave it. A store this
  // small runs as it is: the restart would cost more than it saves (the
  // scale benchmark's row "large pages off / on" shows it still taken at
  // 100,000 vantles).
  configure();
  write_file(html("site.config"), "2\n0 north\n1 east\n0 4\n4 0\n");
  write_file(html("kb.txt"), "science (\n  physics\n)\n");
  write_file(html("orv_ftp_get.cmd"), "#!/bin/sh\nprintenv GLIBC_TUNABLES >> tunables\n");
  ::chmod(html("orv_ftp_get.cmd").c_str(), 0755);
  for (const char* given : {"glibc.malloc.perturb=0", "glibc.malloc.hugetlb=0"}) {
    run_result r = test_util::run_program(
        test_util::program_path("orv"), site_.path(),
        {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "message_type=SYS_PICK_UP_MSG&flag=orv"},
         {"GLIBC_TUNABLES", given}});
    EXPECT_EQ(0, r.status) << r.out;
  }
  EXPECT_EQ("glibc.malloc.perturb=0\nglibc.malloc.hugetlb=0\n", read_file(html("tunables")));
}

TEST_F(OrvCli, PostRequest) {
  configure();
  std::string body = "message_type=MSG_SHOW_CONFIG&flag=orv";
  run_result r = test_util::run_program(
      test_util::program_path("orv"), site_.path(),
      {{"REQUEST_METHOD", "POST"},
       {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
       {"CONTENT_LENGTH", std::to_string(body.size())}},
      body);
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header +
                "SERVER ID = srv1 <p> \nORV ID = north <p> \nRETRIEVE THRESHOLD = 0.<p> \n"
                "VIRTUAL SITE DISTANCE THRESHOLD = 9.<p> \nMAXIMUM VANTLES THRESHOLD = 3.<p> \n",
            r.out);

  run_result bad = test_util::run_program(
      test_util::program_path("orv"), site_.path(),
      {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "text/plain"}, {"CONTENT_LENGTH", "3"}},
      "a=1");
  EXPECT_EQ(1, bad.status);
  EXPECT_EQ(header + header + "<p>No content type was passed to formpump.</body></html>\n",
            bad.out);
}

TEST_F(OrvCli, UpdateConfiguration) {
  configure();
  run_result r = get("message_type=MSG_UPDATE_CONFIG&flag=orv&content=VG_THRESHOLD%7C5");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "\"VG_THRESHOLD\" is updated with the new value \"5\".\n", r.out);
  EXPECT_EQ("\"VG_THRESHOLD\" is updated with value 5.\n", read_file(html("dump_file")));
  EXPECT_NE(std::string::npos,
            read_file(html("config.txt"))->find("virtual site distance threshold: 5\n"));

  r = get("message_type=MSG_UPDATE_CONFIG&flag=orv&content=SERVER_ID|<b>");
  EXPECT_EQ(header + "\"SERVER_ID\" is updated with the new value \"&lt;b&gt;\".\n", r.out);
  EXPECT_EQ("\"SERVER_ID\" is updated with value <b>.\n", read_file(html("dump_file")));

  std::string before = *read_file(html("config.txt"));
  r = get("message_type=MSG_UPDATE_CONFIG&flag=orv&content=COLOR|blue");
  EXPECT_EQ(header + "Unknown Choice \"COLOR\" with value blue.\n", r.out);
  EXPECT_EQ(before, read_file(html("config.txt")));
}

TEST_F(OrvCli, UnknownSystemMessageWritesOnlyTheTrace) {
  configure();
  run_result r = get("message_type=FOO&flag=ORV_MSG");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "Unknown message type: FOO <p>\n", r.out);
  EXPECT_EQ((std::vector<std::string>{"config.txt", "dump_file", "inbox", "outbox", "run.lock"}),
            test_util::list_dir(site_ / "html"));
  EXPECT_EQ(configured, read_file(html("config.txt")));
  EXPECT_EQ(header + "Unknown message type: &lt;i&gt; <p>\n",
            get("message_type=<i>&flag=orv").out);
}

TEST_F(OrvCli, IncompleteFormsEndWithStatusZero) {
  configure();
  struct {
    const char* query;
    const char* page;
  } cases[] = {
      {"flag=new", "Lack of Message Type.\n"},
      {"message_type=MSG_CREATE&flag=Old", "Unexpected flag value Old\n"},
      {"message_type=MSG_CREATE&flag=%22%3E%3Cscript%3E",
       "Unexpected flag value &quot;&gt;&lt;script&gt;\n"},
      {"message_type=MSG_CREATE&flag=new&ic_type=../etc", "Invalid ic type ../etc.\n"},
      {"message_type=MSG_CREATE&flag=new&ic_type=V&ic_par_num=1&ic_par_1=%3Cx%3E",
       "Lack of &lt;x&gt;.\n"},
  };
  for (const auto& c : cases) {
    run_result r = get(c.query);
    EXPECT_EQ(0, r.status) << c.query;
    EXPECT_EQ(header + c.page, r.out) << c.query;
    EXPECT_FALSE(read_file(html("file.ic"))) << c.query;
  }
}

TEST_F(OrvCli, SendWithEmptyOutboxDoesNotRunScript) {
  configure();
  write_file(html("orv_ftp_put.cmd"), "#!/bin/sh\ntouch put_ran\n");
  ::chmod(html("orv_ftp_put.cmd").c_str(), 0755);
  run_result r = get("message_type=SYS_SEND_MSG&flag=orv");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "There is no outgoing message.\n", r.out);
  EXPECT_FALSE(read_file(html("put_ran")));
  EXPECT_FALSE(read_file(html("file.ic")));
}

TEST_F(OrvCli, SendListsOutboxOldestFirstAndRunsScript) {
  configure();
  write_file(html("orv_ftp_put.cmd"), "#!/bin/sh\necho noise\nls outbox > put_saw\n");
  ::chmod(html("orv_ftp_put.cmd").c_str(), 0755);
  write_file(html("outbox/south17000000000"), "x");
  write_file(html("outbox/east17000000001"), "y");
  struct timespec older[2] = {{1000, 0}, {1000, 0}}, newer[2] = {{2000, 0}, {2000, 0}};
  ::utimensat(AT_FDCWD, html("outbox/south17000000000").c_str(), newer, 0);
  ::utimensat(AT_FDCWD, html("outbox/east17000000001").c_str(), older, 0);
  write_file(html("file.ic"), "unchanged");

  run_result r = get("message_type=SYS_SEND_MSG&flag=orv");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header +
                "Send the outgoing message: east17000000001<br>\n"
                "Send the outgoing message: south17000000000<br>\n",
            r.out);
  EXPECT_EQ("east17000000001\nsouth17000000000\n", read_file(html("put_saw")));
  EXPECT_EQ("noise\n", r.err) << "script output stays off the page";
  EXPECT_EQ("unchanged", read_file(html("file.ic")));
}

TEST_F(OrvCli, DamagedConfigurationIsNotOverwritten) {
  write_file(html("config.txt"), "garbage\n");
  run_result r = get("message_type=MSG_UPDATE_CONFIG&flag=orv&content=ORV_ID|x");
  EXPECT_EQ(1, r.status) << "a refused run fails";
  EXPECT_EQ(header +
                "The configuration file config.txt is damaged: line 1 must begin with "
                "\"server id: \".<p>\n",
            r.out);
  EXPECT_EQ("garbage\n", read_file(html("config.txt")));
}

TEST_F(OrvCli, WithoutHtmlDirectoryTheRunWritesNothing) {
  ::rmdir((site_ / "html").c_str());
  run_result r = get("message_type=MSG_SHOW_CONFIG&flag=orv");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(header +
                "Error: can't enter the directory html: No such file or directory; nothing is "
                "changed.\n<p>",
            r.out);
  EXPECT_TRUE(test_util::list_dir(site_.path()).empty())
      << "the site directory is where the web server serves from";
}

// Concurrent updates of different settings: each run reads the file, changes
// one setting and writes the file back, so without the run lock some
// updates would be lost.
TEST_F(OrvCli, ConcurrentRequestsDoNotLoseUpdates) {
  configure();
  const std::vector<std::string> updates = {
      "SERVER_ID|s2", "ORV_ID|o2", "RETRIEVE_THRESHOLD|11", "VG_THRESHOLD|12",
      "MAX_VANTLE_THRESHOLD|13", "SET_EMAIL_ADDRESS|e2"};
  std::vector<std::thread> runs;
  std::vector<run_result> results(updates.size());
  for (size_t i = 0; i < updates.size(); ++i) {
    runs.emplace_back([&, i] {
      results[i] = get("message_type=MSG_UPDATE_CONFIG&flag=orv&content=" + updates[i]);
    });
  }
  for (auto& t : runs) t.join();
  for (const run_result& r : results) EXPECT_EQ(0, r.status);
  EXPECT_EQ(
      "server id: s2\norv id: o2\nretrieval threshold: 11\n"
      "virtual site distance threshold: 12\nmax. vantle# threshold: 13\nemail address: e2\n",
      read_file(html("config.txt")));
}

}  // namespace
