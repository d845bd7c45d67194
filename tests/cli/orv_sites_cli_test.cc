// Black-box test of three sites on one machine with the sample site data
// (VANTLE.in, kb.txt, site.config, each site's config.txt): a query vantle
// created at north travels to its query site east as a copy, a vantle of
// east that matches answers, and the fused answer comes back to north,
// where it is saved and shown. The tests carry the message files from one
// site's outbox to another's inbox themselves, as a transfer script would,
// and once through the sample put script.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string samples = SAMPLES_DIR;

// "name=value&..." of a MSG_CREATE form with the manager page's fields.
std::string create_form(const std::string& doc_id, const std::string& i_am,
                        const std::string& type, const std::string& name) {
  return "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9"
         "&ic_par_1=doc_id&ic_par_2=i_am&ic_par_3=i_love&ic_par_4=i_hate&ic_par_5=i_behave"
         "&ic_par_6=i_keyword&ic_par_7=i_comment&ic_par_8=vantle_type&ic_par_9=sym_name"
         "&doc_id=" + doc_id + "&i_am=" + i_am +
         "&i_love=%21&i_hate=%21&i_behave=%21&i_keyword=lenses%23%21"
         "&i_comment=notes+on+" + doc_id + "%23%21&vantle_type=" + type + "&sym_name=" + name;
}

class OrvSitesCli : public ::testing::Test {
 protected:
  OrvSitesCli() {
    for (const char* site : {"north", "east", "south"}) {
      std::string dir = root_ / (std::string(site) + "/html");
      std::filesystem::create_directories(dir);
      for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) copy(samples + "/" + f, dir + "/" + f);
      copy(samples + "/" + site + "/config.txt", dir + "/config.txt");
      for (const char* f : {"orv_ftp_get.cmd", "orv_ftp_put.cmd"}) {
        copy(samples + "/" + f, dir + "/" + f);
        ::chmod((dir + "/" + f).c_str(), 0755);
      }
    }
  }

  static void copy(const std::string& from, const std::string& to) {
    std::optional<std::string> text = read_file(from);
    ASSERT_TRUE(text) << from;
    write_file(to, *text);
  }

  std::string html(const std::string& site, const std::string& rel = "") {
    return root_ / (site + "/html" + (rel.empty() ? "" : "/" + rel));
  }

  run_result get(const std::string& site, const std::string& query) {
    run_result r = test_util::run_program(
        test_util::program_path("orv"), root_ / site,
        {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}, {"PATH", "/usr/bin:/bin"}});
    EXPECT_EQ(0, r.status) << site << " " << query << "\n" << r.out;
    return r;
  }

  std::vector<std::string> outbox(const std::string& site) {
    return test_util::list_dir(html(site, "outbox"));
  }

  // Moves every file of `from`'s outbox into `to`'s inbox, as a transfer
  // script does; returns the names moved.
  std::vector<std::string> carry(const std::string& from, const std::string& to) {
    std::vector<std::string> names = outbox(from);
    for (const std::string& n : names) {
      std::filesystem::rename(html(from, "outbox/" + n), html(to, "inbox/" + n));
    }
    return names;
  }

  // The lines of `site`'s file.ic that begin with `label`.
  std::vector<std::string> store_lines(const std::string& site, const std::string& label) {
    std::vector<std::string> r;
    std::string s = read_file(html(site, "file.ic")).value_or("");
    for (size_t at = 0; at < s.size();) {
      size_t e = s.find('\n', at);
      if (e == std::string::npos) e = s.size();
      if (s.compare(at, label.size(), label) == 0) {
        r.push_back(s.substr(at + label.size(), e - at - label.size()));
      }
      at = e + 1;
    }
    return r;
  }

  std::set<std::string> stored_ids(const std::string& site) {
    std::vector<std::string> ids = store_lines(site, "id: ");
    return {ids.begin(), ids.end()};
  }

  // Two document vantles at east, one near the query's word and one far,
  // and one near vantle at south, which is no query site of north.
  void documents() {
    run_result lens = get("east", create_form("doc-lens", "optics%23%21", "Archives", "lens"));
    EXPECT_NE(std::string::npos, lens.out.find("Create a new Vantle 1 for Doc \"doc-lens\""));
    get("east", create_form("doc-ball", "football%23%21", "Archives", "ball"));
    get("south", create_form("doc-gear", "mechanics%23%21", "Archives", "gear"));
    EXPECT_TRUE(outbox("east").empty()) << "documents stay at home";
    EXPECT_TRUE(outbox("south").empty());
  }

  test_util::scoped_temp_dir root_;
};

TEST_F(OrvSitesCli, AQueryTravelsToItsQuerySiteAndTheAnswerComesHome) {
  documents();

  // North: the query vantle, sent to east (distance 4) and not to south (12).
  run_result made = get("north", create_form("q-1", "mechanics%23%21", "Info_Gathering", "ask"));
  EXPECT_NE(std::string::npos, made.out.find("Create a new Vantle 1 for Doc \"q-1\""));
  EXPECT_NE(std::string::npos, made.out.find("*** This virtual site sends an outgoing message"));
  std::vector<std::string> sent = carry("north", "east");
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(0u, sent[0].rfind("east", 0)) << sent[0];

  // East: the copy asks both local vantles; only the near one answers.
  run_result there = get("east", "flag=orv&message_type=SYS_PICK_UP_MSG");
  EXPECT_NE(std::string::npos, there.out.find("Pick up an incoming message from file: inbox/" + sent[0]));
  EXPECT_NE(std::string::npos, there.out.find("Vantle q-1 has been moved.\n"));
  EXPECT_NE(std::string::npos,
            there.out.find("query = mechanics#! <br>\nVantle 1 matches this query <br>\n"
                           "with i_am = optics#! <br>\n"));
  EXPECT_EQ(std::string::npos, there.out.find("Vantle 2 matches")) << "football is far";
  EXPECT_NE(std::string::npos,
            there.out.find("Doc doc-lens Has been saved into info_list. Total = 1. <br>\n"));
  EXPECT_TRUE(test_util::list_dir(html("east", "inbox")).empty());
  // The copy was registered with north's name of the vantle and the copy
  // flag; it died once it had answered, so east stores its own two.
  EXPECT_NE(std::string::npos,
            read_file(html("east", "name_db")).value_or("").find("north\nVANTLE\n1\nc\n"));
  EXPECT_EQ((std::set<std::string>{"1", "2"}), stored_ids("east"));

  std::vector<std::string> answer = carry("east", "north");
  ASSERT_EQ(1u, answer.size());
  EXPECT_EQ(0u, answer[0].rfind("north", 0)) << answer[0];
  std::string file = read_file(html("north", "inbox/" + answer[0])).value_or("");
  EXPECT_NE(std::string::npos, file.find("\n5\n")) << "MSG_REMOTE_REPLY\n" << file;
  EXPECT_NE(std::string::npos,
            file.find("\ndoc-lens#!|optics#!|!|!|#!|lenses#!|notes on doc-lens#!|Info_Gathering"))
      << file;

  // North: the answer is saved, announced and shown.
  run_result home = get("north", "flag=orv&message_type=SYS_PICK_UP_MSG");
  EXPECT_NE(std::string::npos,
            home.out.find("Doc doc-lens#! Has been saved into info_list. Total = 1. <br>\n"));
  EXPECT_NE(std::string::npos,
            home.out.find("<p>*** Query results from the REMOTE sites are available <br>\n"
                          "       for your document with ID = q-1<p>\n"));
  const std::string results =
      "<p>*** Saved Query Results for document with id = q-1:<br><br>\n"
      "Doc id: doc-lens#!<br>\nI am: optics#!<br>\nI love: !<br>\nI hate: !<br>\n"
      "I behave: #!<br>\nI keyword: lenses#!<br>\nI comment: notes on doc-lens#!<br>\n"
      "----------------------------------<br>\n";
  EXPECT_NE(std::string::npos, home.out.find(results)) << home.out;
  EXPECT_TRUE(outbox("north").empty());
  EXPECT_EQ(std::vector<std::string>{"1"}, store_lines("north", "info_link: "));

  // South heard nothing.
  EXPECT_TRUE(test_util::list_dir(html("south", "inbox")).empty());

  // The results and the vantle can be shown later.
  run_result shown =
      get("north", "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_VANTLE_RESULT");
  EXPECT_NE(std::string::npos, shown.out.find(results));
  run_result all = get("north", "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_ALL");
  EXPECT_NE(std::string::npos, all.out.find("<p>Vantle symbolic name = ask <br>\n"));
  EXPECT_NE(std::string::npos, all.out.find("Vantle type = Info_Gathering <br>\n"));

  // Deleting: by document at east (sent to every vantle), by id at north.
  run_result gone =
      get("east", "flag=old&ic_type=VANTLE&ic_id_list=-1&message_type=MSG_MOVE_DELETE"
                  "&content=doc-lens");
  EXPECT_NE(std::string::npos, gone.out.find("Vantle 1 for doc doc-lens find itself. <p>\n"));
  EXPECT_NE(std::string::npos, gone.out.find("<p>Vantle 1 has been deleted. <p>\n"));
  EXPECT_EQ(std::string::npos, gone.out.find("Vantle 2 has been deleted"));
  EXPECT_EQ(std::vector<std::string>{"2"}, store_lines("east", "id: "));
  run_result deleted = get("north", "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_DELETE");
  EXPECT_NE(std::string::npos, deleted.out.find("<p>Vantle 1 has been deleted. <p>\n"));
  EXPECT_TRUE(store_lines("north", "id: ").empty());
}

// A query that no vantle of the query site matches: the copy answers
// nothing and dies; north gets no file.
TEST_F(OrvSitesCli, AQueryWithoutMatchesBringsNothingBack) {
  documents();
  get("north", create_form("q-2", "poetry%23%21", "Info_Gathering", "ask"));
  ASSERT_EQ(1u, carry("north", "east").size());
  run_result there = get("east", "flag=orv&message_type=SYS_PICK_UP_MSG");
  EXPECT_EQ(std::string::npos, there.out.find("matches this query"));
  EXPECT_TRUE(outbox("east").empty());
  EXPECT_EQ((std::set<std::string>{"1", "2"}), stored_ids("east"));
}

// The same journey with the sample put script doing the carrying
// (SYS_SEND_MSG), and a second query site: east's query reaches north and
// south, and both answer.
TEST_F(OrvSitesCli, TheSamplePutScriptCarriesTheFiles) {
  get("north", create_form("doc-optics", "optics%23%21", "Archives", "o"));
  get("south", create_form("doc-gear", "mechanics%23%21", "Archives", "g"));
  get("east", create_form("q-3", "mechanics%23%21", "Info_Gathering", "ask"));
  ASSERT_EQ(2u, outbox("east").size()) << "north and south are query sites of east";

  run_result send = get("east", "flag=orv&message_type=SYS_SEND_MSG");
  EXPECT_NE(std::string::npos, send.out.find("Send the outgoing message: "));
  EXPECT_TRUE(outbox("east").empty());
  ASSERT_EQ(1u, test_util::list_dir(html("north", "inbox")).size());
  ASSERT_EQ(1u, test_util::list_dir(html("south", "inbox")).size());

  for (const char* site : {"north", "south"}) {
    run_result r = get(site, "flag=orv&message_type=SYS_PICK_UP_MSG");
    EXPECT_NE(std::string::npos, r.out.find("Vantle 1 matches this query")) << site;
    get(site, "flag=orv&message_type=SYS_SEND_MSG");
    EXPECT_TRUE(outbox(site).empty()) << site;
  }
  ASSERT_EQ(2u, test_util::list_dir(html("east", "inbox")).size());

  run_result home = get("east", "flag=orv&message_type=SYS_PICK_UP_MSG");
  EXPECT_NE(std::string::npos, home.out.find("Total = 1. <br>\n"));
  EXPECT_NE(std::string::npos, home.out.find("Total = 2. <br>\n"));
  EXPECT_NE(std::string::npos, home.out.find("Doc id: doc-optics#!<br>\n"));
  EXPECT_NE(std::string::npos, home.out.find("Doc id: doc-gear#!<br>\n"));
  EXPECT_TRUE(test_util::list_dir(html("east", "inbox")).empty());
}

// More matching vantles than the site's maximum (3 in the sample
// config.txt): the copy keeps three answers and drops the fourth.
TEST_F(OrvSitesCli, TheCopyKeepsAtMostTheMaximumOfAnswers) {
  for (const char* doc : {"d1", "d2", "d3", "d4"}) {
    get("east", create_form(doc, "optics%23%21", "Archives", std::string("n") + doc));
  }
  get("north", create_form("q-4", "mechanics%23%21", "Info_Gathering", "ask"));
  ASSERT_EQ(1u, carry("north", "east").size());
  run_result there = get("east", "flag=orv&message_type=SYS_PICK_UP_MSG");
  EXPECT_NE(std::string::npos, there.out.find("Vantle 4 matches this query"));
  EXPECT_NE(std::string::npos, there.out.find("Total = 3. <br>\n"));
  EXPECT_EQ(std::string::npos, there.out.find("Total = 4."));
  std::vector<std::string> answer = carry("east", "north");
  ASSERT_EQ(1u, answer.size());
  std::string file = read_file(html("north", "inbox/" + answer[0])).value_or("");
  size_t line = file.rfind('\n', file.find("#!|"));
  ASSERT_NE(std::string::npos, line) << file;
  std::string doc_ids = file.substr(line + 1, file.find('|', line) - line - 1);
  EXPECT_EQ(3, std::count(doc_ids.begin(), doc_ids.end(), '#')) << doc_ids;
}

}  // namespace

namespace {

// Vantles made through orv leave every site file a cell request writes:
// the store, the naming database and its counter, the vantle names and one
// backup copy per saving request.
TEST_F(OrvSitesCli, CreatedVantlesFillTheSiteFiles) {
  get("east", create_form("doc-lens", "optics%23%21", "Archives", "lens"));
  get("east", create_form("doc-ball", "football%23%21", "Archives", "ball"));
  get("east", "message_type=MSG_SHOW_ALL&flag=old&ic_type=VANTLE&ic_id_list=1");

  EXPECT_EQ((std::set<std::string>{"1", "2"}), stored_ids("east"));
  // The forms name the vantles (in vantle_db), not the cells: the naming
  // database holds one placeholder record per cell.
  EXPECT_EQ((std::vector<std::string>{"", ""}), store_lines("east", "ic symbolic name: "));
  EXPECT_EQ(
      "1\n*** (no symbolic name)\nsrv2\neast\nVANTLE\n1\ns\n"
      "2\n*** (no symbolic name)\nsrv2\neast\nVANTLE\n2\ns\n",
      read_file(html("east", "name_db")));
  EXPECT_EQ("3", read_file(html("east", "ic_id_counter")));
  EXPECT_EQ("lens\ndoc-lens\nball\ndoc-ball\n", read_file(html("east", "vantle_db")));
  EXPECT_EQ((std::vector<std::string>{"file.ic.b0", "file.ic.b1", "file.ic.b2"}),
            test_util::list_dir(html("east", "BACKUP")));
  EXPECT_EQ(read_file(html("east", "file.ic")), read_file(html("east", "BACKUP/file.ic.b2")))
      << "the newest copy is the store as saved";
}

}  // namespace
