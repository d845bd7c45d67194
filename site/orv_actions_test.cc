// orv's firing hooks: the vantle predicates and actions, the choice of
// receiving cells and sites, the receiver of a cross-site message, and the
// IC type of an output.
#include <sys/stat.h>

#include "engine/fg_reader.h"
#include "gtest/gtest.h"
#include "site/orv_hooks.h"
#include "tests/test_util.h"

namespace {

using engine::ic_record;
using site::vantle_record;

const char* const kb_text =
    "science (\n  physics (\n    mechanics\n    optics\n  )\n  biology\n)\narts\n";
const char* const sites_text = "3\n0 north\n1 east\n2 south\n0 4 12\n4 0 6\n12 6 0\n";

class OrvActionsTest : public test_util::in_run_dir {
 protected:
  OrvActionsTest() {
    site::site_config cfg;
    cfg.orv_id = "north";
    cfg.retrieve_threshold = 1;
    cfg.vg_threshold = 9;
    cfg.max_vantle_threshold = 3;
    cfg.email = "owner@north.example";
    hooks_.set_config(cfg);
    hooks_.set_world(site::world{*site::site_table::parse(sites_text, nullptr),
                                 *site::parse_knowledge_base(kb_text, nullptr)});
  }

  // A VANTLE cell with a fresh vantle record in the active list.
  ic_record& vantle_cell(std::int32_t id) {
    ic_record& c = st_.cells.active.emplace_front();
    c.id = id;
    c.ic_type = "VANTLE";
    c.mm = site::new_vantle_record();
    return c;
  }
  static vantle_record& rec(ic_record& c) { return dynamic_cast<vantle_record&>(*c.mm); }

  // Runs action `number` with the values `values`, given to it as the
  // variables X1, X2, ... (so values may hold any character but "|").
  void act(std::int32_t number, ic_record& c, const std::vector<std::string>& values = {}) {
    engine::fg_function f;
    hooks_.do_actions(st_, number, bind(c, values), f, c);
  }
  int pred(std::int32_t number, ic_record& c, const std::vector<std::string>& values) {
    engine::fg_function f;
    return hooks_.do_predicate(st_, number, bind(c, values), f, c);
  }
  static std::vector<engine::parameter> bind(ic_record& c, const std::vector<std::string>& values) {
    std::string list;
    c.bindings.clear();
    for (size_t i = 0; i < values.size(); ++i) {
      // Built in two steps: GCC 12 at -O3 warns falsely (-Wrestrict) about
      // operator+ on a literal and a temporary string.
      std::string name = "X";
      name += std::to_string(i + 1);
      c.bindings.push_back({name, values[i]});
      if (i) list += '|';
      list += name;
    }
    return engine::parse_parameter_list(list);
  }
  // The input specs of a firing whose first input has type `in_type`.
  static std::vector<engine::msg_link> inputs(std::int32_t in_type) {
    engine::msg_link m;
    m.msg_type = in_type;
    return {m};
  }
  static engine::message spec(std::int32_t type) {
    engine::message m;
    m.msg_type = type;
    return m;
  }
  std::string take_page() {
    std::string p = page_.str();
    page_.str("");
    return p;
  }

  site::orv_hooks hooks_{out_, "north"};
  engine::engine_state st_{out_, engine::site_identity{"srv1", "north"}, site::orv_message_types,
                           hooks_};
  engine::fg_function f_;
};

const std::vector<std::string> description = {
    "doc-1", "optics#!", "mechanics#!", "!", "!", "lenses#!", "about lenses#!", "Info_Gathering"};

TEST_F(OrvActionsTest, CounterCheckAgainstTheThreshold) {
  ic_record& c = vantle_cell(1);
  rec(c).vantle_type = "Info_Gathering";
  rec(c).max_vantle_threshold = 3;
  rec(c).collected_vantles = 2;
  EXPECT_EQ(0, pred(0, c, {"1", "Info_Gathering"}));
  EXPECT_EQ(1, pred(0, c, {"2", "Info_Gathering"}));
  EXPECT_EQ(0, pred(0, c, {"3", "Info_Gathering"}));
  EXPECT_EQ(
      "counter_check(): counter = 2\n<p>counter_check(): counter = 2\n<p>"
      "counter_check(): counter = 2\n<p>",
      take_page());
  rec(c).collected_vantles = 1;
  EXPECT_EQ(1, pred(0, c, {"1", "Info_Gathering"}));
  EXPECT_EQ(1, pred(0, c, {"1", "Profile"})) << "the Profile count is 0: 1 < 3";
  EXPECT_EQ("counter_check(): counter = 1\n<p>counter_check(): counter = 0\n<p>", take_page());
  rec(c).collected_doc_ids = 2;
  EXPECT_EQ(1, pred(0, c, {"2", "Profile"}));
  EXPECT_EQ("counter_check(): counter = 2\n<p>", take_page());
  for (const char* list : {"Archives", "Site_Building"}) {
    for (const char* mode : {"1", "2", "3"}) EXPECT_EQ(0, pred(0, c, {mode, list})) << list;
  }
  EXPECT_EQ(0, pred(0, c, {"4", "Info_Gathering"})) << "no mode 4";
  EXPECT_EQ("counter_check(): counter = 1\n<p>", take_page());
}

TEST_F(OrvActionsTest, ParEqualAndDocCheck) {
  ic_record& c = vantle_cell(1);
  rec(c).doc_id = "doc-1";
  EXPECT_EQ(1, pred(1, c, {"Info_Gathering", "Info_Gathering"}));
  EXPECT_EQ(0, pred(1, c, {"Info_Gathering", "info_gathering"})) << "case-sensitive";
  EXPECT_EQ(1, pred(2, c, {"doc-1", "1"}));
  EXPECT_EQ(0, pred(2, c, {"doc-1", "2"}));
  EXPECT_EQ(0, pred(2, c, {"doc-2", "1"}));
  EXPECT_EQ(1, pred(2, c, {"doc-2", "2"}));
  EXPECT_EQ(0, pred(2, c, {"doc-1", "3"})) << "no mode 3";
  EXPECT_EQ("", take_page());
}

TEST_F(OrvActionsTest, UnknownNumbersEndTheRun) {
  ic_record& c = vantle_cell(1);
  EXPECT_EQ(0, test_util::exit_status_of([&] { act(14, c); }));
  EXPECT_EQ(0, test_util::exit_status_of([&] { pred(3, c, {}); }));
  EXPECT_EQ("do_actions: Unknown action number 14\ndo_predicate: Unknown predicate number 3\n",
            take_page());
}

TEST_F(OrvActionsTest, CreateFillsTheRecordRegistersTheNameAndEntersTheGroup) {
  ic_record& c = vantle_cell(7);
  std::vector<std::string> values = description;
  values.push_back("lens");
  act(0, c, values);
  const vantle_record& v = rec(c);
  EXPECT_EQ(7, v.ic_id);
  EXPECT_EQ("north", v.orv_id);
  EXPECT_EQ('s', v.copy_mark);
  EXPECT_EQ("doc-1", v.doc_id);
  EXPECT_EQ("optics#!", v.i_am);
  EXPECT_EQ("mechanics#!", v.i_love);
  EXPECT_EQ("lenses#!", v.i_keyword);
  EXPECT_EQ("about lenses#!", v.i_comment);
  EXPECT_EQ("Info_Gathering", v.vantle_type);
  EXPECT_EQ(3, v.max_vantle_threshold);
  EXPECT_EQ("owner@north.example", v.owner_email);
  EXPECT_EQ("lens", v.symbolic_name);
  EXPECT_EQ("lens\ndoc-1\n", test_util::read_file("vantle_db").value_or(""));
  EXPECT_EQ(
      "<p> Create a new Vantle 7 for Doc \"doc-1\" ...<p>\n"
      "Vantle 7 has the symbolic name \"lens\".\n<p>"
      "Calling VG updating funciton...<br>\n"
      "<hr>\n<font size=+2>Information about VG-Save</font><br>\n"
      "1 vantle(s) of this category<br>\n======================================<br>\n"
      "vantle(7)=doc {doc-1}<br>\n<hr>\n",
      take_page());
  EXPECT_NE(std::string::npos, trace().find("Calling VG updating funciton...\n"));

  // The same name again: refused, the vantle is still created, unnamed.
  ic_record& d = vantle_cell(8);
  values[0] = "doc-2";
  act(0, d, values);
  EXPECT_EQ("", rec(d).symbolic_name);
  EXPECT_NE(std::string::npos,
            take_page().find("The given symbolic name \"lens\" has already been used!!\n <p>"));
  EXPECT_EQ("lens\ndoc-1\n", test_util::read_file("vantle_db").value_or(""));
}

TEST_F(OrvActionsTest, CreateWithAnEmptyNameWhileTheNameFileExists) {
  test_util::write_file("vantle_db", "other\ndoc-0\n");
  ic_record& c = vantle_cell(3);
  std::vector<std::string> values = description;
  values[1] = "!";  // the empty list: no virtual group
  values.push_back("");
  act(0, c, values);
  EXPECT_EQ(
      "<p> Create a new Vantle 3 for Doc \"doc-1\" ...<p>\n"
      "Warning: there is no symbolic name.\n<p>"
      "Vantle 3 has the symbolic name \"\".\n<p>",
      take_page());
  EXPECT_EQ("other\ndoc-0\n\ndoc-1\n", test_util::read_file("vantle_db").value_or(""));
  EXPECT_EQ("", rec(c).symbolic_name);
}

TEST_F(OrvActionsTest, CreateKeepsTheDefaultAddressAndRefusesLongNames) {
  site::site_config cfg;
  cfg.email = "NULL";
  hooks_.set_config(cfg);
  ic_record& c = vantle_cell(4);
  std::vector<std::string> values = description;
  values[1] = "!";
  values.push_back(std::string(50, 'n'));
  act(0, c, values);
  EXPECT_EQ("undefined", rec(c).owner_email);
  EXPECT_EQ("", rec(c).symbolic_name);
  EXPECT_FALSE(test_util::read_file("vantle_db")) << "nothing registered";
  EXPECT_NE(std::string::npos, take_page().find("is longer than 49 characters"));
}

TEST_F(OrvActionsTest, CopyKeepsTheIdentityOfTheOriginal) {
  ic_record& c = vantle_cell(12);
  std::vector<std::string> values = description;
  values.push_back("east");
  values.push_back("5");
  act(13, c, values);
  const vantle_record& v = rec(c);
  EXPECT_EQ(5, v.ic_id);
  EXPECT_EQ("east", v.orv_id);
  EXPECT_EQ('c', v.copy_mark);
  EXPECT_EQ("doc-1", v.doc_id);
  EXPECT_EQ("Info_Gathering", v.vantle_type);
  EXPECT_EQ(3, v.max_vantle_threshold);
  EXPECT_EQ("", v.symbolic_name);
  EXPECT_EQ("undefined", v.owner_email);
  EXPECT_EQ("", take_page());
  EXPECT_FALSE(test_util::read_file("vantle_db"));
}

TEST_F(OrvActionsTest, SaveResultsOfBothKindsAndTheActionsThatDoNothing) {
  ic_record& c = vantle_cell(1);
  rec(c).vantle_type = "Info_Gathering";
  act(6, c, description);
  std::vector<std::string> second = description;
  second[0] = "doc-2";
  act(10, c, second);
  EXPECT_EQ(2, rec(c).collected_vantles);
  ASSERT_EQ(2u, rec(c).info_link.size());
  EXPECT_EQ("doc-2", rec(c).info_link.front().doc_id) << "newest first";
  EXPECT_EQ("about lenses#!", rec(c).info_link.back().i_comment);
  EXPECT_EQ("Info_Gathering", rec(c).info_link.back().vantle_type);
  EXPECT_EQ(
      "Doc doc-1 Has been saved into info_list. Total = 1. <br>\n"
      "Doc doc-2 Has been saved into info_list. Total = 2. <br>\n",
      take_page());

  ic_record& p = vantle_cell(2);
  rec(p).vantle_type = "Profile";
  act(10, p, {"doc-9"});
  act(6, p, {"doc-8"});
  EXPECT_EQ(2, rec(p).collected_doc_ids);
  EXPECT_EQ("doc-8", rec(p).profile_link.front().doc_id);
  EXPECT_EQ(
      "Doc doc-9 Has been saved into profile_list. Total = 1.<br>\n"
      "Doc doc-8 Has been saved into profile_list. Total = 2.<br>\n",
      take_page());

  ic_record& a = vantle_cell(3);
  rec(a).vantle_type = "Archives";
  act(6, a, description);
  act(10, a, description);
  act(9, a, description);
  act(7, a);
  EXPECT_EQ(0, rec(a).collected_vantles);
  EXPECT_TRUE(rec(a).info_link.empty());
  EXPECT_FALSE(rec(a).fusion);
  EXPECT_EQ("", take_page());
}

TEST_F(OrvActionsTest, FusionShowAndNotify) {
  ic_record& c = vantle_cell(1);
  rec(c).vantle_type = "Info_Gathering";
  rec(c).doc_id = "q-1";
  act(6, c, description);
  std::vector<std::string> second = description;
  second[0] = "doc-2";
  second[1] = "optics#biology#!";
  act(6, c, second);
  take_page();
  act(7, c);
  ASSERT_TRUE(rec(c).fusion);
  EXPECT_EQ("doc-2#doc-1#!", rec(c).fusion->doc_id);
  EXPECT_EQ("optics#biology#!", rec(c).fusion->i_am);

  act(11, c, {"local"});
  act(11, c, {"remote"});
  EXPECT_EQ(
      "<p>*** Query results from the LOCAL site are available <br> \t          for your "
      "document with ID = q-1<p>"
      "\n<p>*** Query results from the REMOTE sites are available <br>\n"
      "       for your document with ID = q-1<p>\n",
      take_page());

  act(12, c);
  std::string shown = take_page();
  EXPECT_EQ(0u, shown.find("<p>*** Saved Query Results for document with id = q-1:<br><br>\n"
                           "Doc id: doc-2<br>\nI am: optics#biology#!<br>\n"));
  EXPECT_NE(std::string::npos, shown.find("I comment: about lenses#!<br>\n"
                                          "----------------------------------<br>\nDoc id: doc-1"));

  rec(c).vantle_type = "Pamphlet";
  act(12, c);
  EXPECT_EQ(
      "<p>*** Saved Query Results for document with id = q-1:<br><br>\n"
      "Unknown vantle_type: Pamphlet.<p>\n",
      take_page());
}

TEST_F(OrvActionsTest, TextFromCellsIsEscapedOnThePage) {
  ic_record& c = vantle_cell(1);
  rec(c).doc_id = "<b>d&1</b>";
  rec(c).i_comment = "say \"hi\"#!";
  act(4, c);
  std::string shown = take_page();
  EXPECT_NE(std::string::npos, shown.find("doc_id = &lt;b&gt;d&amp;1&lt;/b&gt; <br>\n"));
  EXPECT_NE(std::string::npos, shown.find("i_comment = say &quot;hi&quot;#! <br>\n"));
  EXPECT_NE(std::string::npos, shown.find("   ------- BEGIN IC -------")) << "the cell dump";
  EXPECT_EQ(std::string::npos, shown.find("<b>"));
  EXPECT_NE(std::string::npos,
            shown.find("owner_email = undefined <br>\n******************************************\n<p>"));
  act(2, c, {"<i>x</i>"});
  EXPECT_EQ("Vantle &lt;i&gt;x&lt;/i&gt; has been moved.\n", take_page());
}

TEST_F(OrvActionsTest, MatchQuery) {
  ic_record& c = vantle_cell(4);
  rec(c).i_am = "optics#!";
  rec(c).value_1 = 1;
  act(5, c, {"east", "9", "!"});
  EXPECT_EQ(0, rec(c).value_1) << "the empty query";
  EXPECT_EQ("", take_page());

  act(5, c, {"east", "9", "mechanics#!"});  // a sibling, within threshold 1
  EXPECT_EQ(1, rec(c).value_1);
  EXPECT_EQ(
      "query = mechanics#! <br>\nVantle 4 matches this query <br>\nwith i_am = optics#! <br>\n"
      "******************************************<p>\n",
      take_page());

  act(5, c, {"east", "9", "biology#!"});  // two steps up from optics
  EXPECT_EQ(0, rec(c).value_1);
  rec(c).i_am = "!";
  rec(c).value_1 = 1;
  act(5, c, {"east", "9", "optics#!"});
  EXPECT_EQ(0, rec(c).value_1) << "a vantle without words matches nothing";
  EXPECT_EQ("", take_page());
}

TEST_F(OrvActionsTest, FindItselfDecidesTheSelfMessage) {
  ic_record& c = vantle_cell(6);
  rec(c).doc_id = "doc-6";
  act(3, c, {"doc-5"});
  EXPECT_EQ(0, rec(c).value_1);
  EXPECT_EQ("doc_id = doc-5\natmp->doc_id = doc-6\n", take_page());
  engine::id_set none = hooks_.find_ic(st_, c, f_, inputs(52), spec(100), "VANTLE");
  EXPECT_TRUE(none.ids.empty());

  act(3, c, {"doc-6"});
  EXPECT_EQ(1, rec(c).value_1);
  EXPECT_EQ("doc_id = doc-6\natmp->doc_id = doc-6\nVantle 6 for doc doc-6 find itself. <p>\n",
            take_page());
  engine::id_set self = hooks_.find_ic(st_, c, f_, inputs(52), spec(100), "VANTLE");
  EXPECT_EQ(std::vector<engine::id_node>{6}, self.ids);
}

TEST_F(OrvActionsTest, FindIcByInputAndOutputType) {
  ic_record& c = vantle_cell(6);
  act(8, c, {"east", "21"});
  EXPECT_EQ("east", rec(c).sender_orv_id);
  EXPECT_EQ(21, rec(c).sender_ic_id);

  EXPECT_EQ(0u, hooks_.find_ic(st_, c, f_, inputs(3), spec(4), "VANTLE").ids.size()) << "no match";
  rec(c).value_1 = 1;
  engine::id_set reply = hooks_.find_ic(st_, c, f_, inputs(3), spec(4), "VANTLE");
  EXPECT_EQ(std::vector<engine::id_node>{21}, reply.ids);

  rec(c).value_1 = 0;
  engine::id_set home = hooks_.find_ic(st_, c, f_, inputs(6), spec(5), "VANTLE");
  EXPECT_EQ(std::vector<engine::id_node>{21}, home.ids) << "whatever value_1 is";
  EXPECT_EQ("", take_page());

  engine::id_set other = hooks_.find_ic(st_, c, f_, inputs(6), spec(4), "VANTLE");
  EXPECT_TRUE(other.ids.empty());
  EXPECT_EQ("find_ic(): Do not match any case.\n", take_page());
}

TEST_F(OrvActionsTest, FindOrvForRepliesAndMoves) {
  ic_record& c = vantle_cell(2);
  rec(c).sender_orv_id = "south";
  engine::name_set back = hooks_.find_orv(st_, c, f_, inputs(6), spec(5), "VANTLE");
  EXPECT_EQ(std::vector<std::string>{"south"}, back.names);

  engine::name_set near = hooks_.find_orv(st_, c, f_, inputs(1), spec(2), "VANTLE");
  EXPECT_EQ(std::vector<std::string>{"east"}, near.names) << "south lies at 12";

  site::site_config wide;
  wide.vg_threshold = 20;
  hooks_.set_config(wide);
  engine::name_set both = hooks_.find_orv(st_, c, f_, inputs(1), spec(2), "VANTLE");
  EXPECT_EQ((std::vector<std::string>{"south", "east"}), both.names) << "reverse table order";

  site::site_config narrow;
  narrow.vg_threshold = 4;
  hooks_.set_config(narrow);
  engine::name_set none = hooks_.find_orv(st_, c, f_, inputs(1), spec(2), "VANTLE");
  EXPECT_TRUE(none.names.empty());
  EXPECT_EQ("", take_page());

  engine::name_set other = hooks_.find_orv(st_, c, f_, inputs(1), spec(3), "VANTLE");
  EXPECT_TRUE(other.names.empty());
  EXPECT_EQ("find_orv(): Do not match any case.\nNo ORV is returned here.\n", take_page());
}

TEST_F(OrvActionsTest, FillReceiver) {
  engine::ext_message m;
  m.msg_type = 2;
  m.ic_type = "VANTLE";
  m.sender = engine::ic_sys_name{"srv1", "north", "VANTLE", 7, 's'};
  hooks_.fill_receiver(st_, m, "east", 0);
  EXPECT_EQ("*** (no server id)", m.receiver.server_id);
  EXPECT_EQ("north", m.receiver.orv_id) << "the given site is ignored";
  EXPECT_EQ("VANTLE", m.receiver.ic_type);
  EXPECT_EQ(7, m.receiver.ic_id) << "the given ic id is ignored";
  EXPECT_EQ('c', m.receiver.flag);

  m.msg_type = 5;
  m.ic_type = "OTHER";
  hooks_.fill_receiver(st_, m, "south", 3);
  EXPECT_EQ("*** (no server id)", m.receiver.server_id);
  EXPECT_EQ("south", m.receiver.orv_id);
  EXPECT_EQ("OTHER", m.receiver.ic_type);
  EXPECT_EQ(3, m.receiver.ic_id);
  EXPECT_EQ('s', m.receiver.flag);
}

TEST_F(OrvActionsTest, FillItype) {
  EXPECT_EQ("VANTLE", hooks_.fill_itype(st_, {}, 1, "VANTLE"));
  EXPECT_EQ("", take_page());
  EXPECT_EQ("NOT_SPEC", hooks_.fill_itype(st_, {}, 1, "NOT_SPEC"));
  EXPECT_EQ(
      "\n**************************************************************\n"
      "*** This is the template function of fill_itype()\n"
      "*** If you didn't specify ic_type of output message in fg format,\n"
      "*** you have to decide the ic_type in function fill_itype().\n"
      "**************************************************************\n",
      take_page());
}

// Vantle actions, predicates and receiver choices on a cell of another
// type: one line each, nothing changes, the run goes on.
TEST_F(OrvActionsTest, CellsWithoutAVantleRecord) {
  ic_record& c = st_.cells.active.emplace_front();
  c.id = 9;
  c.ic_type = "OTHER";
  for (std::int32_t a : {0, 1, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13}) {
    act(a, c, description);
    std::string line = take_page();
    EXPECT_EQ("do_actions: cell 9 has no vantle record; action " + std::to_string(a) +
                  " changes nothing.\n",
              line);
  }
  EXPECT_FALSE(c.mm);
  act(2, c, {"x"});
  act(9, c);
  EXPECT_EQ("Vantle x has been moved.\n", take_page()) << "2 and 9 need no record";
  EXPECT_EQ(0, pred(0, c, {"1", "Info_Gathering"}));
  EXPECT_EQ(0, pred(2, c, {"d", "2"}));
  EXPECT_EQ(1, pred(1, c, {"a", "a"}));
  EXPECT_EQ(
      "do_predicate: cell 9 has no vantle record; predicate 0 does not hold.\n"
      "do_predicate: cell 9 has no vantle record; predicate 2 does not hold.\n",
      take_page());
  EXPECT_TRUE(hooks_.find_ic(st_, c, f_, inputs(3), spec(4), "OTHER").ids.empty());
  EXPECT_TRUE(hooks_.find_orv(st_, c, f_, inputs(6), spec(5), "OTHER").names.empty());
  EXPECT_EQ(
      "find_ic(): cell 9 has no vantle record; no cell is found.\n"
      "find_orv(): cell 9 has no vantle record; no site is found.\n",
      take_page());
}

TEST_F(OrvActionsTest, DeleteLeavesTheGroup) {
  ic_record& c = vantle_cell(5);
  std::vector<std::string> values = description;
  values.push_back("");
  act(0, c, values);
  take_page();
  act(1, c);
  EXPECT_EQ("<p>Delete VG successfully\n<p><p>Vantle 5 has been deleted. <p>\n", take_page());
  act(1, c);
  EXPECT_EQ("<p>Vantle 5 has been deleted. <p>\n", take_page()) << "no longer a member";
}

}  // namespace
