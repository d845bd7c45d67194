// Black-box tests of cellkit, the template manager: the click demo of the
// sample files, requests for missing cells, system messages, the run's end
// on an unknown action, a damaged store, and concurrent requests.
#include <sys/stat.h>

#include <set>
#include <thread>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& header = test_util::cgi_header;

// A cell block of the store with no inputs, outputs or same-ic entries.
std::string cell_block(int id, const std::string& type, int state) {
  return "id: " + std::to_string(id) + "\nic type: " + type + "\ncurrent state: " +
         std::to_string(state) + "\ninitial state: 0\nmax. time: 100\n"
         "input list: 0\noutput list: 0\nsame ic: 0\n";
}

class CellkitCli : public ::testing::Test {
 protected:
  CellkitCli() {
    ::mkdir((dir_ / "html").c_str(), 0755);
    std::optional<std::string> click = read_file(std::string(CELLKIT_SAMPLES_DIR) + "/CLICK.in");
    EXPECT_TRUE(click) << "the sample CLICK.in is missing";
    write_file(html("CLICK.in"), click.value_or(""));
  }

  std::string html(const std::string& rel) { return dir_ / ("html/" + rel); }

  run_result get(const std::string& query) {
    return test_util::run_program(test_util::program_path("cellkit"), dir_.path(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  std::string store() { return read_file(html("file.ic")).value_or("<no file.ic>"); }

  test_util::scoped_temp_dir dir_;
};

// The click demo: a SINGLECLICK makes cell 1, a DOUBLECLICK fires its
// second transition, the next SINGLECLICK to it its first again.
TEST_F(CellkitCli, ClickDemo) {
  run_result r = get("flag=new&ic_type=CLICK&message_type=SINGLECLICK");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "Single click!", r.out);
  EXPECT_EQ("next available ic: 2\n" + cell_block(1, "CLICK", 1), store());
  EXPECT_EQ("Can't open backup file file.ic. <br>\n", read_file(html("dump_file")));
  EXPECT_TRUE(test_util::list_dir(html("BACKUP")).empty()) << "no backup copies";

  r = get("flag=old&ic_type=CLICK&ic_id_list=1&message_type=DOUBLECLICK");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "double click\n", r.out);
  EXPECT_EQ("next available ic: 2\n" + cell_block(1, "CLICK", 0), store());
  EXPECT_EQ("", read_file(html("dump_file")));

  r = get("flag=old&ic_type=CLICK&ic_id_list=1&message_type=SINGLECLICK");
  EXPECT_EQ(header + "Single click!", r.out);
  EXPECT_EQ("next available ic: 2\n" + cell_block(1, "CLICK", 1), store());

  // A DOUBLECLICK with the flag new makes a cell that cannot fire: it keeps
  // the message, with the content of the form, for a later run.
  r = get("flag=new&ic_type=CLICK&message_type=DOUBLECLICK&content=x&db_access=q");
  EXPECT_EQ(header, r.out);
  EXPECT_EQ("next available ic: 3\n"
            "id: 2\nic type: CLICK\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
            "input list: 1\n-1 1 2\nCLICK\nx|q\noutput list: 0\nsame ic: 0\n" +
                cell_block(1, "CLICK", 1),
            store());
}

TEST_F(CellkitCli, OldWithAMissingIdEndsTheRequest) {
  write_file(html("file.ic"), "next available ic: 4\n" + cell_block(3, "CLICK", 1));
  run_result r = get("flag=old&ic_type=CLICK&ic_id_list=9&message_type=SINGLECLICK");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header +
                "The receiving index cell (with type = CLICK and id = 9) is NOT found.\n <br>"
                "The receiving index cell (wth type = CLICK and id = 9) is NOT found.\n <br>",
            r.out);
  EXPECT_EQ("next available ic: 4\n" + cell_block(3, "CLICK", 1), store())
      << "saved unchanged";
  EXPECT_EQ("", read_file(html("dump_file"))) << "no not-found warning";
}

TEST_F(CellkitCli, OldnewWithAMissingIdCreatesACell) {
  run_result r = get("flag=oldnew&ic_type=CLICK&ic_id_list=9&message_type=SINGLECLICK");
  EXPECT_EQ(header + "Single click!", r.out);
  EXPECT_EQ("next available ic: 2\n" + cell_block(1, "CLICK", 1), store());
}

TEST_F(CellkitCli, StoreWithoutCounterLineContinuesAfterItsHighestId) {
  write_file(html("file.ic"), cell_block(5, "CLICK", 1));
  run_result r = get("flag=new&ic_type=CLICK&message_type=SINGLECLICK");
  EXPECT_EQ(header + "Single click!", r.out);
  EXPECT_EQ("next available ic: 7\n" + cell_block(6, "CLICK", 1) + cell_block(5, "CLICK", 1),
            store());
}

TEST_F(CellkitCli, SystemMessages) {
  const std::string stored = "next available ic: 3\n" + cell_block(2, "CLICK", 1);
  write_file(html("file.ic"), stored);
  run_result r = get("flag=orv&message_type=SYS_BACKUP");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "All Vantles are backuped. <p>\n", r.out);
  EXPECT_EQ(stored, store());

  r = get("flag=orv&message_type=SYS_RESTORE");
  EXPECT_EQ(header + "All Vantles are restored.<p>\n", r.out);
  EXPECT_EQ(stored, store());

  r = get("flag=orv&message_type=DOUBLECLICK");
  EXPECT_EQ(header + "Unknown message type: DOUBLECLICK <p>\n", r.out);
  EXPECT_EQ(stored, store());

  r = get("flag=orv&message_type=FOO");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "encode_msg: Unknown message type FOO\n", r.out);
}

TEST_F(CellkitCli, UnknownActionEndsTheRunBeforeTheSave) {
  write_file(html("BAD.in"), "0\n1\n1\n0\n0\n0\n0\n2\n0\n2\n");
  run_result r = get("flag=new&ic_type=BAD&message_type=SINGLECLICK");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "Single click!do_actions: Unknown action number 2\n", r.out);
  EXPECT_FALSE(read_file(html("file.ic"))) << "nothing saved";
}

TEST_F(CellkitCli, OutputWithoutContentTemplate) {
  // ECHO: a SINGLECLICK sends a DOUBLECLICK to a new CLICK cell.
  write_file(html("ECHO.in"), "0\n1\n1\n0\n0\n1\n0,CLICK\n1\n1\n0\n");
  run_result r = get("flag=new&ic_type=ECHO&message_type=SINGLECLICK");
  EXPECT_EQ(header +
                "*** This is the template function of fill_content().\n<br>"
                "*** Nothing is defined here.\n<p>",
            r.out);
  std::string s = store();
  EXPECT_EQ(0u, s.find("next available ic: 3\nid: 2\nic type: CLICK\n")) << s;
  EXPECT_NE(std::string::npos, s.find("input list: 1\n1 1 2\nCLICK\n\noutput list: 0\n"))
      << "the content is empty: " << s;
}

TEST_F(CellkitCli, RefusedFormsLeaveTheStore) {
  run_result r = get("flag=new&ic_type=" + std::string(50, 'T') + "&message_type=SINGLECLICK");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "ic_type too long\n", r.out);
  r = get("flag=new&ic_type=CLICK&message_type=" + std::string(50, 'M'));
  EXPECT_EQ(header + "mesg_type is too long.\n", r.out);
  r = get("flag=new&ic_type=CLICK&message_type=MSG_CREATE");
  EXPECT_EQ(header + "encode_msg: Unknown message type MSG_CREATE\n", r.out);
  EXPECT_FALSE(read_file(html("file.ic")));
}

TEST_F(CellkitCli, DamagedStoreIsNotOverwritten) {
  const std::string damaged = "next available ic: 2\nid: 1\nic type: CLICK\nbroken\n";
  write_file(html("file.ic"), damaged);
  run_result r = get("flag=new&ic_type=CLICK&message_type=SINGLECLICK");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("The cell store file.ic is damaged at line 4"))
      << r.out;
  EXPECT_EQ(damaged, store());
}

// The demo page: vexil shows forms that send the two clicks to cellkit.
TEST_F(CellkitCli, DemoPageSendsClicksToCellkit) {
  const std::string pages = std::string(CELLKIT_SAMPLES_DIR) + "/html/zoaml/";
  for (const std::string name : {"click.zoaml", "click.tpl"}) {
    std::optional<std::string> text = read_file(pages + name);
    ASSERT_TRUE(text) << name;
    write_file(html("zoaml/" + name), *text);
  }
  run_result r = test_util::run_program(test_util::program_path("vexil"), dir_.path(),
                                        {{"REQUEST_METHOD", "GET"},
                                         {"QUERY_STRING", "zoa_name=click.zoaml"}});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(0u, r.out.find(header)) << r.out;
  EXPECT_NE(std::string::npos,
            r.out.find("<INPUT TYPE=\"hidden\" NAME=\"flag\" VALUE=\"new\">\n"
                       "<INPUT TYPE=\"hidden\" NAME=\"ic_type\" VALUE=\"CLICK\">\n"
                       "<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"SINGLECLICK\">"))
      << r.out;
  EXPECT_NE(std::string::npos,
            r.out.find("<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"DOUBLECLICK\">"))
      << r.out;
  // The two click forms send POST to the answer frame; the page's message
  // form follows.
  const std::string click_form =
      "<FORM ACTION=\"cellkit.cgi\" METHOD=POST ACCEPT-CHARSET=\"UTF-8\" TARGET=\"answer\">";
  size_t forms = 0;
  for (size_t at = r.out.find(click_form); at != std::string::npos; at = r.out.find(click_form, at + 1)) {
    ++forms;
  }
  EXPECT_EQ(2u, forms) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("<FORM ACTION=\"cellkit.cgi\" METHOD=GET>")) << r.out;
}

// Ten requests at once, each making a cell: the run lock gives every cell
// its own id and keeps every cell in the store.
TEST_F(CellkitCli, ConcurrentCreations) {
  std::vector<std::thread> runs;
  std::vector<run_result> results(10);
  for (size_t i = 0; i < results.size(); ++i) {
    runs.emplace_back([&, i] { results[i] = get("flag=new&ic_type=CLICK&message_type=SINGLECLICK"); });
  }
  for (auto& t : runs) t.join();
  for (const run_result& r : results) EXPECT_EQ(header + "Single click!", r.out);
  std::string s = store();
  EXPECT_EQ(0u, s.find("next available ic: 11\n")) << s;
  std::set<std::string> ids;
  for (size_t at = s.find("\nid: "); at != std::string::npos; at = s.find("\nid: ", at + 1)) {
    ids.insert(s.substr(at + 5, s.find('\n', at + 1) - at - 5));
  }
  EXPECT_EQ((std::set<std::string>{"1", "10", "2", "3", "4", "5", "6", "7", "8", "9"}), ids);
}

}  // namespace
