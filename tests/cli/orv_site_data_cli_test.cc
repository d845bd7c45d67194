// Black-box tests of orv's site data: a request for cells first reads the
// query-site table and the keyword knowledge base, and a missing or damaged
// file ends it before any cell or message is touched.
#include <sys/stat.h>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& header = test_util::cgi_header;

class OrvSiteData : public ::testing::Test {
 protected:
  OrvSiteData() {
    write_file(html("config.txt"),
               "server id: srv1\norv id: north\nretrieval threshold: 0\n"
               "virtual site distance threshold: 9\nmax. vantle# threshold: 3\n"
               "email address: NULL\n");
    // A get script that shows whether it ran.
    write_file(html("orv_ftp_get.cmd"), "#!/bin/sh\ntouch get_ran\n");
    ::chmod(html("orv_ftp_get.cmd").c_str(), 0755);
    write_file(html("inbox/north17000000000"), "a message file\n");
  }

  std::string html(const std::string& rel) { return site_ / ("html/" + rel); }

  run_result get(const std::string& query) {
    return test_util::run_program(test_util::program_path("orv"), site_.path(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  // Nothing of the site changed: no cells, no script run, inbox as before.
  void expect_untouched(const std::string& query) {
    EXPECT_FALSE(read_file(html("file.ic"))) << query;
    EXPECT_FALSE(read_file(html("get_ran"))) << query;
    EXPECT_EQ(std::vector<std::string>{"north17000000000"}, test_util::list_dir(html("inbox")))
        << query;
  }

  test_util::scoped_temp_dir site_;
};

const char* const requests[] = {
    "message_type=MSG_CREATE&flag=new&ic_type=VANTLE",
    "message_type=SYS_PICK_UP_MSG&flag=orv",
};

TEST_F(OrvSiteData, MissingSiteTableEndsTheRequestWithStatusOne) {
  for (const char* q : requests) {
    run_result r = get(q);
    EXPECT_EQ(1, r.status) << q;
    EXPECT_EQ(header + "Cannot find file site.config\n", r.out) << q;
    EXPECT_EQ("Cannot find file site.config\n", read_file(html("dump_file"))) << q;
    expect_untouched(q);
  }
}

TEST_F(OrvSiteData, MissingKnowledgeBaseEndsTheRequestWithStatusOne) {
  write_file(html("site.config"), "3 0 north 1 east 2 south 0 4 12 4 0 6 12 6 0\n");
  for (const char* q : requests) {
    run_result r = get(q);
    EXPECT_EQ(1, r.status) << q;
    EXPECT_EQ(header + "Cannot open data file kb.txt\n", r.out) << q;
    expect_untouched(q);
  }
}

TEST_F(OrvSiteData, DamagedFilesAreRefusedWithOneLine) {
  write_file(html("site.config"), "2 0 north 5 east 0 1 1 0\n");
  write_file(html("kb.txt"), "science ( physics )\n");
  run_result r = get(requests[0]);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(header + "The data file site.config is damaged: site index 5 is out of range\n",
            r.out);
  expect_untouched(requests[0]);

  write_file(html("site.config"), "2 0 north 1 east 0 1 1 0\n");
  write_file(html("kb.txt"), "science ( physics )\n)\n<b>\n");
  r = get(requests[1]);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(header + "The data file kb.txt is damaged: line 2: a ')' closes no '('\n", r.out);
  expect_untouched(requests[1]);
}

}  // namespace
