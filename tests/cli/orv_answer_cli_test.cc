// Black-box tests of the answer in values: orv asked with "Accept:
// application/json" on sites laid out from the sample site data. Each
// answer is also written to $ANSWERS_DIR (when set) for the schema check
// that runs this test (validate_answers.py).
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "gtest/gtest.h"
#include "json/json.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string samples = SAMPLES_DIR;
const std::string json_header = "Content-type: application/json\n\n";

// The create form of the manager page with `doc`, `i_am`, `type` and `name`.
std::string create(const std::string& doc, const std::string& i_am, const std::string& type,
                   const std::string& name) {
  return "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&content=" + doc + "|" + i_am +
         "|!|!|!|lenses%23!|Notes%23!|" + type + "|" + name;
}

// A message file for north from the cell 4 of `sender` (a source cell), of
// the message type `type` for north's vantle 1.
std::string message_from(const std::string& sender, const std::string& type) {
  return "3\n0\n1\n0\n-1\n" + type + "\nVANTLE\n\nsrv9\n" + sender +
         "\nVANTLE\n4\ns\nsrv1\nnorth\nVANTLE\n1\ns\n0\nx|NULL\n";
}

class OrvAnswerCli : public ::testing::Test {
 protected:
  OrvAnswerCli() {
    for (const char* site : {"north", "east"}) {
      std::string dir = html(site);
      std::filesystem::create_directories(dir);
      for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) {
        write_file(dir + "/" + f, read_file(samples + "/" + f).value_or(""));
      }
      write_file(dir + "/config.txt", read_file(samples + "/" + site + "/config.txt").value_or(""));
    }
  }

  std::string html(const std::string& site, const std::string& rel = "") {
    return root_ / (site + "/html" + (rel.empty() ? "" : "/" + rel));
  }

  run_result get(const std::string& query, const std::string& site = "north") {
    return test_util::run_program(test_util::program_path("orv"), root_ / site,
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  // The JSON answer of `query` (without its header), kept as `name`.json
  // in $ANSWERS_DIR when that is set.
  std::string ask(const std::string& name, const std::string& query,
                  const std::string& site = "north") {
    run_result r = test_util::run_program(test_util::program_path("orv"), root_ / site,
                                          {{"REQUEST_METHOD", "GET"},
                                           {"QUERY_STRING", query},
                                           {"HTTP_ACCEPT", "text/html;q=0.9, application/json"}});
    EXPECT_EQ(0, r.status) << query << "\n" << r.out;
    EXPECT_EQ(json_header, r.out.substr(0, json_header.size())) << r.out;
    std::string body = r.out.substr(std::min(r.out.size(), json_header.size()));
    if (const char* dir = std::getenv("ANSWERS_DIR"))
      write_file(std::string(dir) + "/" + name + ".json", body);
    return body;
  }

  // Moves every file of `from`'s outbox into `to`'s inbox, leaving the
  // delivery mark that names the sender, as the put scripts do.
  void carry(const std::string& from, const std::string& to) {
    std::filesystem::create_directories(html(to, ".inbox-link/done"));
    for (const std::string& n : test_util::list_dir(html(from, "outbox"))) {
      write_file(html(to, ".inbox-link/done/" + from + "." + n + ".0"), "");
      std::filesystem::rename(html(from, "outbox/" + n), html(to, "inbox/" + n));
    }
  }

  // Puts a message file into north's inbox, `age` seconds old.
  void deliver(const std::string& name, const std::string& text, int age) {
    write_file(html("north", "inbox/" + name), text);
    struct timespec times[2] = {{1000000000 - age, 0}, {1000000000 - age, 0}};
    ::utimensat(AT_FDCWD, html("north", "inbox/" + name).c_str(), times, 0);
  }

  test_util::scoped_temp_dir root_;
};

#define EXPECT_HAS(text, part) EXPECT_NE(std::string::npos, (text).find(part)) << (text)

TEST_F(OrvAnswerCli, EachKindOfRequestAnswersInValues) {
  std::string a = ask("create", create("doc-1", "physics%23optics%23!", "Archives", "lens"));
  EXPECT_HAS(a,
             "\"request\":{\"kind\":\"create\",\"message_type\":\"MSG_CREATE\",\"flag\":\"new\"");
  EXPECT_HAS(
      a,
      "\"outcome\":\"done\",\"exit_status\":0,\"summary\":\"Vantle 1 \\\"lens\\\" was created.\"");
  EXPECT_HAS(a,
             "\"cells\":{\"created\":[{\"ic_id\":1,\"ic_type\":\"VANTLE\",\"sym_name\":\"lens\"}]");

  const std::string list = "flag=old&ic_type=VANTLE&ic_id_list=-1&message_type=MSG_SHOW_ALL";
  a = ask("list", list);
  EXPECT_HAS(a, "\"kind\":\"list\"");
  EXPECT_HAS(a,
             "\"vantles\":[{\"ic_id\":1,\"sym_name\":\"lens\",\"doc_id\":\"doc-1\","
             "\"vantle_type\":\"Archives\",\"state\":1,\"orv_id\":\"north\",\"copy_mark\":\"s\","
             "\"i_am\":[\"physics\",\"optics\"],\"i_love\":[],\"i_hate\":[],\"i_behave\":[],"
             "\"keywords\":[\"lenses\"],\"comment\":\"Notes\",\"email\":\"undefined\"}]");
  // The page of the same request, word for word.
  EXPECT_HAS(a, "\"page\":" + json::quote(get(list).out) + "}");

  a = ask("show", "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_ALL");
  EXPECT_HAS(a, "\"kind\":\"show\"");
  EXPECT_HAS(a, "\"summary\":\"Vantle 1.\"");

  a = ask("show_missing", "flag=old&ic_type=VANTLE&ic_id_list=7&message_type=MSG_SHOW_ALL");
  EXPECT_HAS(a, "\"outcome\":\"nothing\"");

  a = ask("refusal", create("doc-2", "alchemy", "Archives", "other"));
  EXPECT_HAS(a, "\"outcome\":\"refused\"");
  EXPECT_HAS(
      a,
      "\"refusals\":[{\"label\":\"I am (keywords)\",\"field\":\"i_am\","
      "\"value\":\"alchemy\",\"why\":\"it is not a keyword of the knowledge base kb.txt\"}]");

  a = ask("config_show", "flag=orv&message_type=MSG_SHOW_CONFIG");
  EXPECT_HAS(a,
             "\"settings\":{\"server_id\":\"srv1\",\"orv_id\":\"north\",\"retrieve_threshold\":1,"
             "\"vg_threshold\":9,\"max_vantle_threshold\":3,\"email\":\"NULL\",\"sites\":["
             "{\"orv_id\":\"north\",\"distance\":0},{\"orv_id\":\"east\",\"distance\":4},"
             "{\"orv_id\":\"south\",\"distance\":12}]}");

  a = ask("config_update", "flag=orv&message_type=MSG_UPDATE_CONFIG&content=VG_THRESHOLD%7C12");
  EXPECT_HAS(a, "\"kind\":\"config_update\",");
  EXPECT_HAS(a, "\"outcome\":\"done\"");
  a = ask("config_refused", "flag=orv&message_type=MSG_UPDATE_CONFIG&content=VG_THRESHOLD%7Cmany");
  EXPECT_HAS(a, "\"outcome\":\"refused\"");
  EXPECT_HAS(a, "\"why\":\"The value of \\\"VG_THRESHOLD\\\" must be a number.\"");

  a = ask("delete_document",
          "flag=old&ic_type=VANTLE&ic_id_list=-1&message_type=MSG_MOVE_DELETE"
          "&content=no-such-doc");
  EXPECT_HAS(a, "\"kind\":\"delete_document\"");
  EXPECT_HAS(a, "\"outcome\":\"nothing\"");

  a = ask("delete", "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_DELETE");
  EXPECT_HAS(a, "\"deleted\":[{\"ic_id\":1,\"ic_type\":\"VANTLE\",\"sym_name\":\"lens\"}]");
  EXPECT_HAS(a, "\"summary\":\"Vantle 1 was deleted.\"");

  a = ask("send", "flag=orv&message_type=SYS_SEND_MSG");
  EXPECT_HAS(a, "\"kind\":\"send\"");
  EXPECT_HAS(a, "\"send\":{\"files\":[]}");

  a = ask("form_fault", "flag=sideways&message_type=MSG_SHOW_ALL");
  EXPECT_HAS(a,
             "\"refusals\":[{\"label\":\"Flag\",\"field\":\"flag\",\"value\":\"sideways\","
             "\"why\":\"Unexpected flag value sideways\"}]");
}

// A query that two documents of east answer: one result block, each
// document once, ranked, with the site that answered.
TEST_F(OrvAnswerCli, SavedResultsListEachDocumentOnceRanked) {
  ask("create_east_a", create("doc-b", "optics", "Archives", "b"), "east");
  ask("create_east_b", create("doc-a", "mechanics", "Archives", "a"), "east");
  ask("create_query", create("q-1", "optics", "Info_Gathering", "ask"));
  carry("north", "east");
  std::string there = ask("pick_up_east", "flag=orv&message_type=SYS_PICK_UP_MSG", "east");
  EXPECT_HAS(there, "\"outcome\":\"applied\"");
  carry("east", "north");
  std::string home = ask("pick_up_home", "flag=orv&message_type=SYS_PICK_UP_MSG");
  EXPECT_HAS(home, "\"changed\":[{\"ic_id\":1,\"ic_type\":\"VANTLE\",\"sym_name\":\"ask\"}]");
  std::string a =
      ask("results", "flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_VANTLE_RESULT");
  EXPECT_HAS(a,
             "\"results\":[{\"query\":{\"ic_id\":1,\"doc_id\":\"q-1\",\"keywords\":[\"optics\"]},"
             "\"sent_to\":[\"east\"],\"documents\":[{\"doc_id\":\"doc-a\",\"site\":\"east\"");
  EXPECT_HAS(a, "\"distance\":0,\"rank\":1},{\"doc_id\":\"doc-b\",\"site\":\"east\"");
  EXPECT_HAS(a, "\"distance\":0,\"rank\":2}]}]");
  EXPECT_HAS(a, "\"summary\":\"2 documents answer query 1 (q-1).\"");
  // The answering site is kept with the saved result.
  EXPECT_HAS(read_file(html("north", "file.ic")).value_or(""), "\n-1\neast\nn\nInfo_Gathering\n");
}

// Two files from two sites; the second names a message type north does
// not know and is refused. Each keeps its sender.
TEST_F(OrvAnswerCli, APickUpAnswersPerFileWithItsSender) {
  ask("create_for_pick_up", create("doc-1", "physics", "Archives", "lens"));
  deliver("north1700000000", message_from("east", "MSG_SHOW_ALL"), 20);
  deliver("north1700000001", message_from("south", "MSG_BOGUS"), 10);
  std::string a = ask("pick_up", "flag=orv&message_type=SYS_PICK_UP_MSG");
  EXPECT_HAS(a,
             "\"files\":[{\"file\":\"north1700000000\",\"sender\":\"east\",\"outcome\":\"applied\","
             "\"why\":\"\",\"refusal\":\"\",\"load_warnings\":[],\"message_errors\":[],");
  EXPECT_HAS(a,
             "{\"file\":\"north1700000001\",\"sender\":\"south\",\"outcome\":\"refused\","
             "\"why\":\"unknown message type MSG_BOGUS\",\"refusal\":\"The incoming file "
             "inbox/north1700000001 cannot be processed: unknown message type MSG_BOGUS; it is "
             "moved to inbox/rejected.\"");
  EXPECT_HAS(a, "\"summary\":\"1 message picked up, 1 refused.\"");
  EXPECT_HAS(a, "\"vantles\":[{\"ic_id\":1,");
}

}  // namespace
