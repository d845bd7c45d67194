// Black-box tests of the virtual groups as orv restores vantles: a request
// for cells enters every restored vantle into its group of the group tree
// read from `kb.txt`; SYS_RESTORE and SYS_BACKUP read no knowledge base,
// so whether `kb.txt` is there, missing or damaged changes nothing for them.
#include <sys/stat.h>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& page_header = test_util::cgi_header;
const std::string calling = "Calling VG updating funciton...<br>\n";

const char* const configured = test_util::north_config;

const char* const example_kb = "science (\nphysics\ncomputing ( retrieval databases )\n)\n";

const char* const vantle_fg =
    "// VANTLE: create, then wait\n"
    "0\n1\n1\n1,X1|X2\n0\n0\n0\n1\n0,X1|X2\n";

// One VANTLE cell with nothing waiting and the description `i_am`.
std::string stored_vantle(int id, const std::string& i_am) {
  std::string n = std::to_string(id);
  return "id: " + n +
         "\nic type: VANTLE\ncurrent state: 1\ninitial state: 0\nmax. time: 100\n"
         "ic symbolic name: \nic sys name -- server id: srv1\nic sys name -- orv id: north\n"
         "ic sys name -- ic type: VANTLE\nic sys name -- ic id: " +
         n + "\nic sys name -- flag: s\ninput list: 0\noutput list: 0\nsame ic: 0\n" + n +
         "\nnorth\ns\nArchives\ndoc-" + n + "\n" + i_am +
         "\n!\n!\n!\n!\na comment#!\n\nundefined\n0\n0\n0\ns\n0\ninfo_link: 0\n"
         "profile_link: 0\nfusion: 0\n";
}

// Words in the tree, the empty list, a word outside it, and several words.
const std::string store = stored_vantle(1, "physics#!") + stored_vantle(2, "!") +
                          stored_vantle(3, "chemistry#!") +
                          stored_vantle(4, "physics#retrieval databases#!");

class OrvGroupsCli : public ::testing::Test {
 protected:
  OrvGroupsCli() {
    ::mkdir((site_ / "html").c_str(), 0755);
    write_file(html("config.txt"), configured);
    write_file(html("VANTLE.in"), vantle_fg);
    write_file(html("file.ic"), store);
  }

  std::string html(const std::string& rel) { return site_ / ("html/" + rel); }

  run_result get(const std::string& query) {
    return test_util::run_program(test_util::program_path("orv"), site_.path(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  test_util::scoped_temp_dir site_;
};

// SYS_RESTORE and SYS_BACKUP with no `kb.txt`, a good one and a damaged
// one: each vantle with words is announced, none is looked up.
TEST_F(OrvGroupsCli, SystemMessagesReadNoKnowledgeBase) {
  const std::string loading = calling + calling + calling;
  const char* const knowledge_bases[] = {nullptr, example_kb, "physics )\n("};
  for (const char* kb : knowledge_bases) {
    std::string which = kb ? kb : "(no kb.txt)";
    if (kb) write_file(html("kb.txt"), kb);

    run_result r = get("message_type=SYS_RESTORE&flag=orv");
    EXPECT_EQ(0, r.status) << which;
    EXPECT_EQ(page_header + loading + "All Vantles are restored.<p>\n", r.out) << which;
    EXPECT_EQ(store, read_file(html("file.ic"))) << which;

    r = get("message_type=SYS_BACKUP&flag=orv");
    EXPECT_EQ(0, r.status) << which;
    EXPECT_EQ(page_header + loading + "All Vantles are backuped. <p>\n", r.out) << which;
    EXPECT_EQ("", read_file(html("dump_file"))) << which;
    write_file(html("file.ic"), store);
  }
}

// A request for cells reads `kb.txt` and enters every restored vantle, in
// the order of the store; a word outside the tree is reported on the page
// and in the trace, and the run goes on.
TEST_F(OrvGroupsCli, CellRequestEntersRestoredVantles) {
  write_file(html("site.config"), "2 0 north 1 east 0 3 3 0\n");
  write_file(html("kb.txt"), example_kb);
  run_result r = get("message_type=MSG_SHOW_ALL&flag=old&ic_type=VANTLE&ic_id_list=-1");
  const std::string loading = page_header + calling + calling +
                              "Error: key word chemistry not found\n"
                              "Error occurs in querying vantle\n" +
                              calling;
  EXPECT_EQ(loading, r.out.substr(0, loading.size())) << r.out;
  EXPECT_NE(std::string::npos, read_file(html("dump_file"))
                                   .value_or("")
                                   .find("Error: key word chemistry not found\n"));
}

// A word that reaches the page from a stored cell is escaped there and
// written raw to the trace.
TEST_F(OrvGroupsCli, StoredWordIsEscapedOnThePage) {
  write_file(html("site.config"), "2 0 north 1 east 0 3 3 0\n");
  write_file(html("kb.txt"), example_kb);
  write_file(html("file.ic"), stored_vantle(1, "<i>x&y#!"));
  run_result r = get("message_type=MSG_SHOW_ALL&flag=old&ic_type=VANTLE&ic_id_list=-1");
  const std::string loading = page_header + calling +
                              "Error: key word &lt;i&gt;x&amp;y not found\n"
                              "Error occurs in querying vantle\n";
  EXPECT_EQ(loading, r.out.substr(0, loading.size())) << r.out;
  EXPECT_NE(std::string::npos,
            read_file(html("dump_file")).value_or("").find("Error: key word <i>x&y not found\n"));
}

}  // namespace
