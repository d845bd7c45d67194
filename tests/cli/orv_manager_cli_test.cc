// Black-box tests of orv processing messages for cells: small IC types of
// the tests' own (their transitions run no actions), the page, file.ic,
// name_db and the outbox after each request.
#include <sys/stat.h>

#include <map>
#include <set>
#include <thread>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& header = test_util::cgi_header;

// PING, made by MSG_CREATE, asks for a new PONG with a MSG_MOVE_KEEP
// carrying its first value. PONG fires once it also has a MSG_RETRIEVE,
// and sends a MSG_LOCAL_REPLY to the site named by that message's value.
const char* const ping_fg =
    "// PING\n"
    "0\n1\n1\n1,X1\n0\n1\n0,PONG\n1\n2,X1\n0\n";
const char* const pong_fg =
    "// PONG\n"
    "0\n1\n2\n3,X2\n2,X1\n0\n1\n5,PONG,X2\n1\n4,X1|S!\n0\n";
// NOTE: made by MSG_CREATE, goes to state 1, nothing else.
const char* const note_fg = "0\n1\n1\n1,X1\n0\n0\n0\n0\n";

class OrvManagerCli : public ::testing::Test {
 protected:
  OrvManagerCli() {
    ::mkdir((site_ / "html").c_str(), 0755);
    write_file(html("config.txt"), test_util::north_config);
    write_file(html("site.config"), "2\n0 north\n1 east\n0 4\n4 0\n");
    write_file(html("kb.txt"), "science (\n  physics\n)\n");
    write_file(html("PING.in"), ping_fg);
    write_file(html("PONG.in"), pong_fg);
    write_file(html("NOTE.in"), note_fg);
  }

  std::string html(const std::string& rel) { return site_ / ("html/" + rel); }

  run_result get(const std::string& query) {
    return test_util::run_program(test_util::program_path("orv"), site_.path(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  // The lines of file.ic that begin with `label`, in file order.
  std::vector<std::string> store_lines(const std::string& label) {
    std::vector<std::string> r;
    std::string s = read_file(html("file.ic")).value_or("");
    for (size_t at = 0; at < s.size();) {
      size_t e = s.find('\n', at);
      std::string line = s.substr(at, e - at);
      if (line.rfind(label, 0) == 0) r.push_back(line.substr(label.size()));
      at = e == std::string::npos ? s.size() : e + 1;
    }
    return r;
  }

  test_util::scoped_temp_dir site_;
};

TEST_F(OrvManagerCli, CreationMakesAndSavesACell) {
  run_result r = get("message_type=MSG_CREATE&flag=new&ic_type=NOTE&ic_sym_name=n1&content=hi");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "Unknown ic type: NOTE\n", r.out);
  EXPECT_EQ(std::vector<std::string>{"1"}, store_lines("id: "));
  EXPECT_EQ(std::vector<std::string>{"1"}, store_lines("current state: "));
  EXPECT_EQ(std::vector<std::string>{"n1"}, store_lines("ic symbolic name: "));
  EXPECT_EQ(std::vector<std::string>{"0"}, store_lines("input list: ")) << "consumed";
  EXPECT_EQ("1\nn1\nsrv1\nnorth\nNOTE\n1\ns\n", read_file(html("name_db")));
  EXPECT_TRUE(read_file(html("BACKUP/file.ic.b0")));
}

TEST_F(OrvManagerCli, ExchangeBetweenCellsSpansTwoRequests) {
  run_result r = get("message_type=MSG_CREATE&flag=new&ic_type=PING&ic_sym_name=p&content=hello");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "Unknown ic type: PING\nUnknown ic type: PONG\n", r.out);
  // PONG (2) was made by PING's message and keeps it; PING (1) keeps the
  // group that now points at PONG.
  EXPECT_EQ((std::vector<std::string>{"2", "1"}), store_lines("id: "));
  EXPECT_EQ((std::vector<std::string>{"1", "0"}), store_lines("input list: "));
  EXPECT_EQ((std::vector<std::string>{"0", "1"}), store_lines("output list: "));
  std::string store = *read_file(html("file.ic"));
  EXPECT_NE(std::string::npos, store.find("output list: 1\n1\n2 2 2\n")) << store;

  r = get("message_type=MSG_RETRIEVE&flag=old&ic_type=PONG&ic_id_list=2&content=east");
  EXPECT_EQ(0, r.status) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("Warning")) << r.out;
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), store_lines("id: ")) << "saved in reverse";
  EXPECT_EQ((std::vector<std::string>{"1", "1"}), store_lines("current state: "))
      << "PONG fired: its input from PING was not taken for stale";
  EXPECT_EQ((std::vector<std::string>{"0", "0"}), store_lines("input list: "));
  EXPECT_EQ((std::vector<std::string>{"0", "0"}), store_lines("output list: "))
      << "the consumed output is withdrawn from PING";

  // PONG's reply went to the site named by the MSG_RETRIEVE.
  std::vector<std::string> files = test_util::list_dir(html("outbox"));
  ASSERT_EQ(1u, files.size());
  EXPECT_EQ(0u, files[0].rfind("east", 0)) << files[0];
  std::string file = *read_file(html("outbox/" + files[0]));
  EXPECT_EQ(0u, file.find("2\n0\n1\n0\n4\n\nPONG\n\nsrv1\nnorth\nPONG\n2\ns\n")) << file;
  EXPECT_NE(std::string::npos, file.find("\neast\nPONG\n5\ns\n0\nhello|!")) << file;
}

TEST_F(OrvManagerCli, RefusalsAndUnknownReceivers) {
  run_result r = get("message_type=MSG_CREATE&flag=oldnew&ic_type=NOTE&ic_id_list=0&content=x");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "Flag oldnew (or IC_ID_TYPE) must be given ic id > 0\n"
                     "Flag oldnew (or IC_ID_TYPE) must be given ic id > 0\n",
            r.out);

  r = get("message_type=MSG_CREATE&flag=old&ic_type=NOTE&ic_id_list=-6&content=x");
  EXPECT_EQ(header, r.out) << "-6: nothing is delivered or printed";

  r = get("message_type=MSG_CREATE&flag=old&ic_type=NOTE&ic_id_list=42&content=x");
  EXPECT_EQ(header + "found_ic(): ic_id = 42 not found!\nfound_ic(): ic_id = 42 not found!\n"
                     "Unknown ic type: NOTE\n",
            r.out);
  EXPECT_EQ(std::vector<std::string>{"1"}, store_lines("id: ")) << "a new cell of the form's type";
  EXPECT_EQ(std::vector<std::string>{"1"}, store_lines("current state: "));
  EXPECT_EQ("found_ic(): ic_id = 42 not found!\nfound_ic(): ic_id = 42 not found!\n",
            read_file(html("dump_file")));
}

TEST_F(OrvManagerCli, BroadcastToEveryAcceptingCell) {
  // Three NOTE cells, each made by a MSG_DELETE that no transition
  // consumes, wait in state 0 for a MSG_CREATE.
  write_file(html("NOTE.in"), "0\n2\n1\n1,X1\n0\n0\n0\n0\n");
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(0, get("message_type=MSG_DELETE&flag=new&ic_type=NOTE&content=x").status);
  }
  EXPECT_EQ((std::vector<std::string>{"0", "0", "0"}), store_lines("current state: "));
  run_result r = get("message_type=MSG_CREATE&flag=old&ic_type=NOT_SPEC&ic_id_list=-1&content=y");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(header + "Unknown ic type: NOTE\nUnknown ic type: NOTE\nUnknown ic type: NOTE\n", r.out);
  EXPECT_EQ((std::vector<std::string>{"2", "2", "2"}), store_lines("current state: "))
      << "each cell got its own copy and fired";
}

// Twenty requests at once, each creating a cell: the run lock keeps the
// store and the naming database consistent.
TEST_F(OrvManagerCli, TwentyConcurrentCreations) {
  std::vector<std::thread> runs;
  std::vector<run_result> results(20);
  for (int i = 0; i < 20; ++i) {
    runs.emplace_back([&, i] {
      results[static_cast<size_t>(i)] = get(
          "message_type=MSG_CREATE&flag=new&ic_type=NOTE&ic_sym_name=doc" + std::to_string(i) +
          "&content=v" + std::to_string(i));
    });
  }
  for (auto& t : runs) t.join();
  for (const run_result& r : results) EXPECT_EQ(0, r.status) << r.out;

  std::vector<std::string> ids = store_lines("id: ");
  std::vector<std::string> names = store_lines("ic symbolic name: ");
  ASSERT_EQ(20u, ids.size());
  ASSERT_EQ(20u, names.size());
  EXPECT_EQ(20u, std::set<std::string>(ids.begin(), ids.end()).size());
  EXPECT_EQ(20u, std::set<std::string>(names.begin(), names.end()).size());
  for (const std::string& s : store_lines("current state: ")) EXPECT_EQ("1", s);

  // name_db: one seven-line record per cell, naming the cell's id.
  std::string db = *read_file(html("name_db"));
  std::map<std::string, std::string> id_of;
  std::vector<std::string> lines;
  for (size_t at = 0; at < db.size();) {
    size_t e = db.find('\n', at);
    lines.push_back(db.substr(at, e - at));
    at = e + 1;
  }
  ASSERT_EQ(140u, lines.size());
  for (size_t i = 0; i < lines.size(); i += 7) {
    id_of[lines[i + 1]] = lines[i];
    EXPECT_EQ(lines[i], lines[i + 5]) << "system name id of " << lines[i + 1];
  }
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ids[i], id_of[names[i]]) << names[i];
  EXPECT_EQ("21", read_file(html("ic_id_counter")));
}

}  // namespace
