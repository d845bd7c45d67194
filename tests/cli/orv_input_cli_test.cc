// Black-box tests of orv with mistyped forms, run on sites laid out from the
// sample site data: a refused form writes one line and changes no file; a
// keyword list or comment without its end is mended; a message to an id no
// cell has makes no cell it could never use.
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string samples = SAMPLES_DIR;

// The fields of the manager page's create form, URL-encoded, with the
// sample values unless `fields` gives others.
std::string create_form(std::map<std::string, std::string> fields) {
  std::map<std::string, std::string> all = {
      {"doc_id", "doc-001"},  {"i_am", "physics%23optics%23%21"}, {"i_love", "optics%23%21"},
      {"i_hate", "%21"},      {"i_behave", "%21"},                {"i_keyword", "lenses%23%21"},
      {"i_comment", "Notes%23%21"}, {"vantle_type", "Archives"},  {"sym_name", "lens_notes"}};
  for (const auto& [k, v] : fields) all[k] = v;
  std::string q = "flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_par_num=9";
  const char* order[] = {"doc_id",   "i_am",      "i_love",      "i_hate",  "i_behave",
                         "i_keyword", "i_comment", "vantle_type", "sym_name"};
  for (int i = 0; i < 9; ++i) q += "&ic_par_" + std::to_string(i + 1) + "=" + order[i];
  for (const auto& [k, v] : all) q += "&" + k + "=" + v;
  return q;
}

class OrvInputCli : public ::testing::Test {
 protected:
  OrvInputCli() {
    for (const char* site : {"north", "east"}) {
      std::string dir = html(site);
      std::filesystem::create_directories(dir);
      for (const char* f : {"VANTLE.in", "kb.txt", "site.config"}) {
        write_file(dir + "/" + f, read_file(samples + "/" + f).value_or(""));
      }
      write_file(dir + "/config.txt",
                 read_file(samples + "/" + site + "/config.txt").value_or(""));
    }
  }

  std::string html(const std::string& site, const std::string& rel = "") {
    return root_ / (site + "/html" + (rel.empty() ? "" : "/" + rel));
  }

  run_result get(const std::string& query, const std::string& site = "north") {
    run_result r = test_util::run_program(test_util::program_path("orv"), root_ / site,
                                          {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
    EXPECT_EQ(0, r.status) << query << "\n" << r.out;
    return r;
  }

  // Every file of a site's html directory (BACKUP and the mailboxes
  // included) with its text, but the trace and the lock.
  std::map<std::string, std::string> files(const std::string& site = "north") {
    std::map<std::string, std::string> r;
    for (const auto& e : std::filesystem::recursive_directory_iterator(html(site))) {
      std::string name = e.path().filename().string();
      if (!e.is_regular_file() || name == "dump_file" || name == "run.lock") continue;
      r[e.path().string()] = read_file(e.path().string()).value_or("");
    }
    return r;
  }

  int cells(const std::string& site = "north") {
    std::string s = read_file(html(site, "file.ic")).value_or("");
    int n = 0;
    for (size_t at = s.find("\nic type: "); at != std::string::npos;
         at = s.find("\nic type: ", at + 1)) {
      ++n;
    }
    return n;
  }

  // Moves every file of `from`'s outbox into `to`'s inbox.
  void carry(const std::string& from, const std::string& to) {
    for (const std::string& n : test_util::list_dir(html(from, "outbox"))) {
      std::filesystem::rename(html(from, "outbox/" + n), html(to, "inbox/" + n));
    }
  }

  // Expects `query` to be refused with the line `line` and to change nothing.
  void expect_refused(const std::string& query, const std::string& line) {
    std::map<std::string, std::string> before = files();
    run_result r = get(query);
    EXPECT_NE(std::string::npos, r.out.find(line)) << query << "\n" << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("Create a new Vantle")) << r.out;
    std::map<std::string, std::string> after = files();
    for (const auto& [name, text] : after) {
      auto was = before.find(name);
      EXPECT_TRUE(was != before.end() && was->second == text)
          << query << ": " << name << " came or changed";
    }
    EXPECT_EQ(before.size(), after.size()) << query << ": a file came or went";
  }

  test_util::scoped_temp_dir root_;
};

TEST_F(OrvInputCli, AnIdListMustBeginWithAWholeNumber) {
  get(create_form({}));
  for (const char* id : {"1abc", "1.5", "abc"}) {
    expect_refused("flag=old&ic_type=VANTLE&message_type=MSG_DELETE&ic_id_list=" + std::string(id),
                   "Unexpected ic_id_list value " + std::string(id) +
                       ": the list must begin with a whole number, for example 12 or -1.\n");
  }
  EXPECT_EQ(1, cells());
}

TEST_F(OrvInputCli, AShowOfAMissingIdMakesNoCell) {
  get(create_form({}));
  for (const char* type : {"MSG_SHOW_ALL", "MSG_SHOW_VANTLE_RESULT", "MSG_DELETE"}) {
    run_result r = get("flag=old&ic_type=VANTLE&ic_id_list=7&message_type=" + std::string(type));
    EXPECT_NE(std::string::npos, r.out.find("found_ic(): ic_id = 7 not found!")) << r.out;
    EXPECT_NE(std::string::npos,
              r.out.find("No cell has id 7, and a new cell of type VANTLE could not take"))
        << r.out;
    EXPECT_EQ(1, cells()) << type;
  }
  EXPECT_EQ("2", read_file(html("north", "ic_id_counter")));
  // A create sent to an id no cell has still makes the cell.
  run_result made =
      get(create_form({{"sym_name", "second"}}).replace(0, 8, "flag=oldnew") + "&ic_id_list=7");
  EXPECT_NE(std::string::npos, made.out.find("Create a new Vantle 2")) << made.out;
  EXPECT_EQ(2, cells());
}

TEST_F(OrvInputCli, KeywordListsAndCommentsWithoutTheirEndAreMended) {
  run_result r = get(create_form({{"i_am", "physics"}, {"i_love", "optics%23"},
                                  {"i_keyword", "lenses"}, {"i_comment", "Notes"}}));
  EXPECT_NE(std::string::npos, r.out.find("Create a new Vantle 1")) << r.out;
  std::string store = read_file(html("north", "file.ic")).value_or("");
  EXPECT_NE(std::string::npos, store.find("\nphysics#!\noptics#!\n!\n!\nlenses#!\nNotes#!\n"))
      << store;
  // The vantle has its group: later answers begin with no error for it.
  r = get("flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_ALL");
  EXPECT_EQ(std::string::npos, r.out.find("Error")) << r.out;
}

TEST_F(OrvInputCli, AWrongKeywordIsRefusedAndChangesNothing) {
  get(create_form({}));
  const std::string long_word(2000, 'x');
  std::string many;
  for (int i = 0; i < 51; ++i) many += "optics%23";
  expect_refused(create_form({{"i_am", "physics%23alchemy%23%21"}, {"sym_name", "n2"}}),
                 "The word \"alchemy\" of i_am is refused: it is not a keyword of the knowledge "
                 "base kb.txt.\n<p>");
  expect_refused(create_form({{"i_keyword", long_word}, {"sym_name", "n2"}}),
                 "The word \"" + long_word.substr(0, 100) +
                     "...\" of i_keyword is refused: it is 2000 bytes long, at most 80.\n<p>");
  expect_refused(create_form({{"i_love", many}, {"sym_name", "n2"}}),
                 "of i_love is refused: it has 51 words, at most 50.\n<p>");
  expect_refused(create_form({{"i_am", "%3Cb%3E"}, {"sym_name", "n2"}}),
                 "The word \"&lt;b&gt;\" of i_am is refused");
}

TEST_F(OrvInputCli, ACreateWhoseNameIsRefusedCreatesNothing) {
  get(create_form({}));
  get("flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_sym_name=cell_name&content="
      "d2|physics%23!|!|!|!|!|c%23!|Archives|other");
  ASSERT_EQ(2, cells());
  expect_refused(create_form({}),
                 "The value \"lens_notes\" of sym_name is refused: another vantle has this name "
                 "in vantle_db.\n<p>");
  expect_refused(create_form({{"sym_name", std::string(50, 'n')}}),
                 "of sym_name is refused: it is 50 bytes long, at most 49.\n<p>");
  expect_refused(create_form({{"sym_name", "free"}}) + "&ic_sym_name=cell_name",
                 "The value \"cell_name\" of ic_sym_name is refused: another cell has this name "
                 "in name_db.\n<p>");
  expect_refused(create_form({{"sym_name", "free"}}) + "&ic_sym_name=" + std::string(50, 'c'),
                 "of ic_sym_name is refused: it is 50 bytes long, at most 49.\n<p>");
}

// A name taken in vantle_db or in name_db is said as the site always said
// it, and the refusal line follows.
TEST_F(OrvInputCli, ATakenNameIsSaidBeforeItsRefusal) {
  get(create_form({}));
  get("flag=new&ic_type=VANTLE&message_type=MSG_CREATE&ic_sym_name=cell_name&content="
      "d2|physics%23!|!|!|!|!|c%23!|Archives|other");
  expect_refused(create_form({}),
                 "The given symbolic name \"lens_notes\" has already been used!!\n <p>"
                 "The value \"lens_notes\" of sym_name is refused: another vantle has this name "
                 "in vantle_db.\n<p>");
  expect_refused(create_form({{"sym_name", "free"}}) + "&ic_sym_name=cell_name",
                 "<p>The given symbolic name \"cell_name\" has already been used!!\n <p>"
                 "The IC can't be created.\n<p>"
                 "The value \"cell_name\" of ic_sym_name is refused: another cell has this name "
                 "in name_db.\n<p>");
}

// A refused form is answered before the cells are read: a store that does
// not read does not stand in its way.
TEST_F(OrvInputCli, ARefusedFormReadsNoCell) {
  write_file(html("north", "file.ic"), "this is no cell store\n");
  expect_refused(create_form({{"i_am", "alchemy"}}),
                 "The word \"alchemy\" of i_am is refused: it is not a keyword of the knowledge "
                 "base kb.txt.\n<p>");
  run_result r = get(create_form({{"i_am", "alchemy"}}));
  EXPECT_EQ(std::string::npos, r.out.find("file.ic")) << r.out;
}

TEST_F(OrvInputCli, ASettingWithoutAValueIsRefused) {
  for (const char* content : {"SERVER_ID", "ORV_ID", "SET_EMAIL_ADDRESS", "ORV_ID%7C",
                              "VG_THRESHOLD"}) {
    expect_refused("flag=orv&message_type=MSG_UPDATE_CONFIG&content=" + std::string(content),
                   "of content is refused: a setting is changed with its key, \"|\" and a "
                   "value.\n<p>");
  }
  run_result r = get("flag=orv&message_type=MSG_UPDATE_CONFIG&content=ORV_ID%7Cnorth2");
  std::string config = read_file(html("north", "config.txt")).value_or("");
  EXPECT_NE(std::string::npos, config.find("orv id: north2\n")) << r.out;
}

// A query from north with a word east does not know reaches east, and the
// fused answer holds east's comment whole, non-ASCII bytes and all.
TEST_F(OrvInputCli, AnswersKeepCommentsWholeAndVisitorsKeepTheirWords) {
  write_file(html("north", "kb.txt"),
             read_file(samples + "/kb.txt").value_or("") + "aurora (\n  northern lights\n)\n");
  get(create_form({{"doc_id", "doc-sur"}, {"i_am", "optics"}, {"i_comment", "%C3%93ptica+del+sur"},
                   {"sym_name", "sur"}}),
      "east");
  get(create_form({{"doc_id", "q-1"},
                   {"i_am", "mechanics%23northern+lights"},
                   {"i_comment", "query"},
                   {"vantle_type", "Info_Gathering"},
                   {"sym_name", "ask"}}));
  carry("north", "east");
  run_result there = get("flag=orv&message_type=SYS_PICK_UP_MSG", "east");
  EXPECT_NE(std::string::npos, there.out.find("Vantle q-1 has been moved.")) << there.out;
  carry("east", "north");
  get("flag=orv&message_type=SYS_PICK_UP_MSG");
  run_result shown =
      get("flag=old&ic_type=VANTLE&ic_id_list=1&message_type=MSG_SHOW_VANTLE_RESULT");
  EXPECT_NE(std::string::npos, shown.out.find("I comment: \xC3\x93ptica del sur#!<br>\n"))
      << shown.out;
}

}  // namespace
