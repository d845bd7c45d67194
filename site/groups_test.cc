#include "site/groups.h"

#include <memory>
#include <sstream>

#include "engine/cell_store.h"
#include "gtest/gtest.h"
#include "site/orv_hooks.h"
#include "tests/test_util.h"

namespace {

using site::group_member;
using site::keyword_tree;
using site::vantle_record;

const char* const example_kb = "science (\nphysics\ncomputing ( retrieval databases )\n)\n";

keyword_tree group_tree(const char* text = example_kb) {
  std::string err;
  std::optional<keyword_tree> t =
      keyword_tree::parse(text, keyword_tree::blank_rule::group, "Universal", &err);
  EXPECT_TRUE(t) << err;
  return std::move(*t);
}

vantle_record vantle(std::int32_t ic_id, const std::string& i_am, const std::string& doc_id = "d",
                     const std::string& orv_id = "north", char copy_mark = 's') {
  vantle_record v;
  v.ic_id = ic_id;
  v.orv_id = orv_id;
  v.copy_mark = copy_mark;
  v.i_am = i_am;
  v.doc_id = doc_id;
  return v;
}

// A cell of the active list; a vantle cell carries `v`.
engine::ic_record cell(std::int32_t id, std::unique_ptr<engine::app_memory> mm) {
  engine::ic_record c;
  c.id = id;
  c.ic_type = mm ? "VANTLE" : "NOTE";
  c.mm = std::move(mm);
  return c;
}

engine::ic_record vantle_cell(const vantle_record& v) {
  return cell(v.ic_id, std::make_unique<vantle_record>(v));
}

bool same(const group_member& a, const group_member& b) {
  return a.ic_id == b.ic_id && a.orv_id == b.orv_id && a.copy_mark == b.copy_mark;
}

std::vector<std::int32_t> member_ids(const keyword_tree& t, int node) {
  std::vector<std::int32_t> ids;
  for (const group_member& m : t.at(node).members) ids.push_back(m.ic_id);
  return ids;
}

std::string report_head(int count) {
  return "<hr>\n<font size=+2>Information about VG-Save</font><br>\n" + std::to_string(count) +
         " vantle(s) of this category<br>\n======================================<br>\n";
}

class GroupsTest : public test_util::in_run_dir {
 protected:
  keyword_tree t_ = group_tree();
  int science_ = *t_.find("science");
  int physics_ = *t_.find("physics");
  int computing_ = *t_.find("computing");
};

TEST_F(GroupsTest, VantlesJoinTheCommonAncestorOfTheirWords) {
  EXPECT_EQ(physics_, site::enter_group(t_, vantle(1, "physics#!"), out_));
  EXPECT_EQ(computing_, site::enter_group(t_, vantle(2, "computing#!"), out_));
  EXPECT_EQ(science_, site::enter_group(t_, vantle(3, "physics#computing#!"), out_));
  EXPECT_EQ(science_, site::enter_group(t_, vantle(4, "Retrieval Databases,physics,!"), out_));
  EXPECT_EQ(computing_, site::enter_group(t_, vantle(5, "retrieval databases#computing#!"), out_));
  EXPECT_EQ((std::vector<std::int32_t>{1}), member_ids(t_, physics_));
  EXPECT_EQ((std::vector<std::int32_t>{2, 5}), member_ids(t_, computing_));
  EXPECT_EQ((std::vector<std::int32_t>{3, 4}), member_ids(t_, science_));
  EXPECT_TRUE(t_.at(keyword_tree::root).members.empty());
  EXPECT_EQ("", page());
}

TEST_F(GroupsTest, WordsOutsideTheTreeGiveNoGroup) {
  EXPECT_FALSE(site::enter_group(t_, vantle(1, "physics#chemistry#!"), out_));
  EXPECT_EQ("Error: key word chemistry not found\nError occurs in querying vantle\n", page());
  EXPECT_EQ("Error: key word chemistry not found\n", trace());
  for (int i = 0; i < t_.size(); ++i) EXPECT_TRUE(t_.at(i).members.empty()) << i;

  // A list without words (the empty list, the default "undefined") has no
  // group either.
  page_.str("");
  EXPECT_FALSE(site::enter_group(t_, vantle(2, "!"), out_));
  EXPECT_FALSE(site::enter_group(t_, vantle(3, "undefined"), out_));
  EXPECT_EQ("Error occurs in querying vantle\nError occurs in querying vantle\n", page());
}

TEST_F(GroupsTest, SameVantleEnteredTwiceIsListedTwice) {
  vantle_record v = vantle(4, "physics#!", "doc-4");
  engine::cell_list active;
  active.push_back(vantle_cell(v));
  std::optional<int> g = site::enter_group(t_, v, out_);
  EXPECT_EQ(g, site::enter_group(t_, v, out_));
  ASSERT_TRUE(g);
  site::report_group(t_, *g, active, out_.pg());
  EXPECT_EQ(report_head(2) + "vantle(4)=doc {doc-4}<br>\nvantle(4)=doc {doc-4}<br>\n<hr>\n",
            page());
}

TEST_F(GroupsTest, ReportListsMembersInOrderOfEntry) {
  engine::cell_list active;
  for (std::int32_t id : {3, 1, 2}) {
    vantle_record v = vantle(id, "computing#!", "doc-" + std::to_string(id));
    active.push_back(vantle_cell(v));
    site::enter_group(t_, v, out_);
  }
  site::report_group(t_, computing_, active, out_.pg());
  EXPECT_EQ(report_head(3) +
                "vantle(3)=doc {doc-3}<br>\nvantle(1)=doc {doc-1}<br>\n"
                "vantle(2)=doc {doc-2}<br>\n<hr>\n",
            page());
}

TEST_F(GroupsTest, MemberWithoutAVantleCellIsAnError) {
  // A copy of east's vantle 7 and a vantle whose cell is asleep.
  site::enter_group(t_, vantle(7, "physics#!", "far", "east", 'c'), out_);
  site::enter_group(t_, vantle(8, "physics#!", "asleep"), out_);
  engine::cell_list active;
  site::report_group(t_, physics_, active, out_.pg());
  EXPECT_EQ(report_head(2) + "error in print_vg_cell <br>\nerror in print_vg_cell <br>\n<hr>\n",
            page());

  // A cell of this site that happens to have ic id 7 is shown instead of
  // the copy; a cell of another type with ic id 8 is not a vantle.
  page_.str("");
  active.push_back(vantle_cell(vantle(7, "computing#!", "local")));
  active.push_back(cell(8, nullptr));
  site::report_group(t_, physics_, active, out_.pg());
  EXPECT_EQ(report_head(2) + "vantle(7)=doc {local}<br>\nerror in print_vg_cell <br>\n<hr>\n",
            page());
}

TEST_F(GroupsTest, ReportEscapesTheDocumentId) {
  vantle_record v = vantle(2, "physics#!", "<script>\"a&b\"");
  engine::cell_list active;
  active.push_back(vantle_cell(v));
  site::enter_group(t_, v, out_);
  site::report_group(t_, physics_, active, out_.pg());
  EXPECT_EQ(report_head(1) + "vantle(2)=doc {&lt;script&gt;&quot;a&amp;b&quot;}<br>\n<hr>\n",
            page());
}

TEST_F(GroupsTest, RemoveTakesTheVantleOutAndKeepsTheOrder) {
  for (std::int32_t id : {1, 2, 3}) site::enter_group(t_, vantle(id, "physics#!"), out_);
  site::remove_from_group(t_, vantle(2, "physics#!"), out_);
  EXPECT_EQ("<p>Delete VG successfully\n<p>", page());
  EXPECT_EQ((std::vector<std::int32_t>{1, 3}), member_ids(t_, physics_));
  site::remove_from_group(t_, vantle(1, "physics#!"), out_);
  site::remove_from_group(t_, vantle(3, "physics#!"), out_);
  EXPECT_TRUE(t_.at(physics_).members.empty());
}

TEST_F(GroupsTest, RemoveOfANonMemberChangesNothingAndWritesNothing) {
  site::enter_group(t_, vantle(1, "physics#!"), out_);
  site::remove_from_group(t_, vantle(9, "physics#!"), out_);
  // Same ic id, but another site's vantle, or a copy.
  site::remove_from_group(t_, vantle(1, "physics#!", "d", "east"), out_);
  site::remove_from_group(t_, vantle(1, "physics#!", "d", "north", 'c'), out_);
  // A member of another group is not looked for elsewhere.
  site::remove_from_group(t_, vantle(1, "computing#!"), out_);
  EXPECT_EQ("", page());
  EXPECT_EQ("", trace());
  EXPECT_EQ((std::vector<std::int32_t>{1}), member_ids(t_, physics_));
}

TEST_F(GroupsTest, RemoveTellsALocalVantleFromACopyWithTheSameIcId) {
  site::enter_group(t_, vantle(5, "physics#!", "d", "east", 'c'), out_);
  site::enter_group(t_, vantle(5, "physics#!"), out_);
  site::remove_from_group(t_, vantle(5, "physics#!"), out_);
  ASSERT_EQ(1u, t_.at(physics_).members.size());
  EXPECT_TRUE(same(group_member{5, "east", 'c'}, t_.at(physics_).members[0]));
}

TEST_F(GroupsTest, RemoveTakesOutEveryEntryOfAVantleEnteredTwice) {
  vantle_record v = vantle(4, "physics#!");
  site::enter_group(t_, vantle(1, "physics#!"), out_);
  site::enter_group(t_, v, out_);
  site::enter_group(t_, v, out_);
  site::enter_group(t_, vantle(2, "physics#!"), out_);
  site::remove_from_group(t_, v, out_);
  EXPECT_EQ("<p>Delete VG successfully\n<p><p>Delete VG successfully\n<p>", page());
  EXPECT_EQ((std::vector<std::int32_t>{1, 2}), member_ids(t_, physics_));
}

TEST_F(GroupsTest, RemoveWithoutAGroup) {
  site::remove_from_group(t_, vantle(1, "physics#zoology#!"), out_);
  EXPECT_EQ("Error: key word zoology not found\nError occurs in querying for vantle\n", page());
  page_.str("");
  site::remove_from_group(t_, vantle(1, "!"), out_);
  EXPECT_EQ("Error occurs in querying for vantle\n", page());
}

TEST_F(GroupsTest, FiftyFirstMemberIsRefused) {
  for (std::int32_t id = 1; id <= 50; ++id) {
    EXPECT_EQ(physics_, site::enter_group(t_, vantle(id, "physics#!"), out_)) << id;
  }
  EXPECT_EQ("", page());
  EXPECT_FALSE(site::enter_group(t_, vantle(51, "physics#!"), out_));
  const std::string refused =
      "Error: the virtual group physics is full (50 vantles); vantle 51 is not entered.\n";
  EXPECT_EQ(refused, page());
  EXPECT_EQ(refused, trace());
  ASSERT_EQ(50u, t_.at(physics_).members.size());
  EXPECT_EQ(50, t_.at(physics_).members.back().ic_id);

  // Other groups still take members, and a freed place can be taken.
  EXPECT_EQ(science_, site::enter_group(t_, vantle(52, "physics#computing#!"), out_));
  site::remove_from_group(t_, vantle(10, "physics#!"), out_);
  EXPECT_EQ(physics_, site::enter_group(t_, vantle(51, "physics#!"), out_));
  EXPECT_EQ(51, t_.at(physics_).members.back().ic_id);
}

// Restoring cells through the hooks of orv.

const char* const vantle_fg = "// VANTLE: create, then wait\n0\n1\n1\n1,X1|X2\n0\n0\n0\n1\n0,X1|X2\n";

// A VANTLE cell `id` whose record has `i_am` and the vantle id (ic id
// `id` unless given, `orv_id`, `mark`).
std::string stored_vantle(int id, const std::string& i_am, const std::string& orv_id = "north",
                          char mark = 's', int vantle_ic_id = 0) {
  std::string n = std::to_string(id);
  std::string v = std::to_string(vantle_ic_id ? vantle_ic_id : id);
  return "id: " + n +
         "\nic type: VANTLE\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
         "ic symbolic name: \nic sys name -- server id: srv1\nic sys name -- orv id: north\n"
         "ic sys name -- ic type: VANTLE\nic sys name -- ic id: " +
         n +
         "\nic sys name -- flag: s\ninput list: 0\noutput list: 0\nsame ic: 0\n" + v + "\n" +
         orv_id + "\n" + mark + "\nArchives\ndoc-" + n + "\n" + i_am +
         "\n!\n!\n!\n!\nc#!\n\nundefined\n0\n0\n0\ns\n0\ninfo_link: 0\nprofile_link: 0\n"
         "fusion: 0\n";
}

class RestoreTest : public test_util::in_run_dir {
 protected:
  RestoreTest() {
    test_util::write_file("VANTLE.in", vantle_fg);
    test_util::write_file(engine::store_file,
                          stored_vantle(3, "physics#!") + stored_vantle(1, "!") +
                              stored_vantle(2, "physics#!", "east", 'c', 9) +
                              stored_vantle(4, "chemistry#!") + stored_vantle(5, "physics#!"));
  }

  site::world example_world() {
    return site::world{*site::site_table::parse("0", nullptr),
                       *site::parse_knowledge_base(example_kb, nullptr)};
  }

  site::orv_hooks hooks_{out_, "north"};
  engine::engine_state st_{out_, engine::site_identity{"srv1", "north"}, site::orv_message_types,
                           hooks_};
};

TEST_F(RestoreTest, RestoredVantlesJoinTheirGroupsInStoreOrder) {
  site::world& w = hooks_.set_world(example_world());
  EXPECT_EQ(&w, hooks_.site_world());
  engine::load_all_cells(st_);
  ASSERT_EQ(5u, st_.cells.active.size());
  const keyword_tree& t = w.kb.groups;
  int physics = *t.find("physics");
  EXPECT_EQ((std::vector<std::int32_t>{3, 9, 5}), member_ids(t, physics));
  EXPECT_TRUE(same(group_member{9, "east", 'c'}, t.at(physics).members[1]));
  const std::string calling = "Calling VG updating funciton...<br>\n";
  EXPECT_EQ(calling + calling + calling +
                "Error: key word chemistry not found\nError occurs in querying vantle\n" + calling,
            page());

  // The cells are in the active list, so the create action's report finds
  // them; the copy's ic id names no cell of this site.
  page_.str("");
  site::report_group(t, physics, st_.cells.active, out_.pg());
  EXPECT_EQ(report_head(3) +
                "vantle(3)=doc {doc-3}<br>\nerror in print_vg_cell <br>\n"
                "vantle(5)=doc {doc-5}<br>\n<hr>\n",
            page());
}

TEST_F(RestoreTest, FullGroupRefusesRestoredVantlesWithOneLine) {
  std::string store;
  for (int id = 1; id <= 53; ++id) store += stored_vantle(id, "physics#!");
  test_util::write_file(engine::store_file, store);
  site::world& w = hooks_.set_world(example_world());
  engine::load_all_cells(st_);
  ASSERT_EQ(53u, st_.cells.active.size());
  EXPECT_EQ(50u, w.kb.groups.at(*w.kb.groups.find("physics")).members.size());
  const std::string refused =
      "Error: the virtual group physics is full (50 vantles); vantles not entered: 3.\n";
  std::string calling;
  for (int i = 0; i < 53; ++i) calling += "Calling VG updating funciton...<br>\n";
  EXPECT_EQ(calling + refused, page()) << "one line for the group, after the load";
  EXPECT_EQ(refused, trace());
}

TEST_F(RestoreTest, WithoutSiteDataRestoredVantlesAreSkipped) {
  EXPECT_EQ(nullptr, hooks_.site_world());
  engine::load_all_cells(st_);
  ASSERT_EQ(5u, st_.cells.active.size());
  const std::string calling = "Calling VG updating funciton...<br>\n";
  EXPECT_EQ(calling + calling + calling + calling, page());
  EXPECT_EQ("", trace());
}

}  // namespace
