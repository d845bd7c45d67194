#include "site/vantle.h"

#include <unistd.h>

#include <sstream>

#include "gtest/gtest.h"
#include "site/orv_hooks.h"
#include "tests/test_util.h"

namespace {

using site::info_entry;
using site::vantle_record;

vantle_record filled() {
  vantle_record v;
  v.ic_id = 3;
  v.orv_id = "north";
  v.vantle_type = "Info_Gathering";
  v.doc_id = "doc-1";
  v.i_am = "paper#retrieval#!";
  v.i_love = "!";
  v.i_hate = "spam#!";
  v.i_behave = "#!";
  v.i_keyword = "ir,agents#!";
  v.i_comment = "first line\nsecond line#!";
  v.symbolic_name = "my doc";
  v.owner_email = "me@example.org";
  v.max_vantle_threshold = 3;
  return v;
}

std::string save(const vantle_record& v, std::ostringstream* page = nullptr) {
  std::ostringstream sink;
  formdecode::page pg(page ? *page : sink);
  engine::store_writer w;
  site::save_vantle(w, v, pg);
  return w.str();
}

vantle_record load(const std::string& text, int* described = nullptr) {
  vantle_record v;
  engine::store_reader r(text);
  site::load_vantle(r, v, [&] {
    if (described) ++*described;
  });
  EXPECT_TRUE(r.at_end());
  return v;
}

void expect_same(const vantle_record& a, const vantle_record& b) {
  EXPECT_EQ(a.ic_id, b.ic_id);
  EXPECT_EQ(a.orv_id, b.orv_id);
  EXPECT_EQ(a.copy_mark, b.copy_mark);
  EXPECT_EQ(a.vantle_type, b.vantle_type);
  EXPECT_EQ(a.doc_id, b.doc_id);
  EXPECT_EQ(a.i_am, b.i_am);
  EXPECT_EQ(a.i_love, b.i_love);
  EXPECT_EQ(a.i_hate, b.i_hate);
  EXPECT_EQ(a.i_behave, b.i_behave);
  EXPECT_EQ(a.i_keyword, b.i_keyword);
  EXPECT_EQ(a.i_comment, b.i_comment);
  EXPECT_EQ(a.symbolic_name, b.symbolic_name);
  EXPECT_EQ(a.owner_email, b.owner_email);
  EXPECT_EQ(a.value_1, b.value_1);
  EXPECT_EQ(a.sender_ic_id, b.sender_ic_id);
  EXPECT_EQ(a.sender_orv_id, b.sender_orv_id);
  EXPECT_EQ(a.sender_copy_mark, b.sender_copy_mark);
  EXPECT_EQ(a.max_vantle_threshold, b.max_vantle_threshold);
  EXPECT_EQ(a.collected_vantles, b.collected_vantles);
  EXPECT_EQ(a.collected_doc_ids, b.collected_doc_ids);
  EXPECT_EQ(a.fusion.has_value(), b.fusion.has_value());
}

TEST(VantleTest, FilledRecordRoundTrip) {
  vantle_record v = filled();
  std::string text = save(v);
  EXPECT_EQ(
      "3\nnorth\ns\nInfo_Gathering\ndoc-1\npaper#retrieval#!\n!\nspam#!\n#!\nir,agents#!\n"
      "first line\nsecond line#!\nmy doc\nme@example.org\n0\n0\n0\ns\n3\n"
      "info_link: 0\nprofile_link: 0\nfusion: 0\n",
      text);
  int described = 0;
  vantle_record back = load(text, &described);
  expect_same(v, back);
  EXPECT_EQ(1, described);
  EXPECT_TRUE(back.info_link.empty());
  EXPECT_EQ(text, save(back));
}

TEST(VantleTest, DefaultRecordDoesNotSwallowWhatFollows) {
  vantle_record v;
  std::string text = save(v);
  EXPECT_EQ(
      "0\n0\ns\nundefined\nundefined\nundefined\nundefined\nundefined\nundefined\nundefined\n"
      "undefined\n\nundefined\n0\n0\n0\ns\n0\ninfo_link: 0\nprofile_link: 0\nfusion: 0\n",
      text)
      << "the default comment keeps its one line";
  std::string with_next = text + "id: 2\n";
  engine::store_reader r(with_next);
  vantle_record back;
  site::load_vantle(r, back, nullptr);
  EXPECT_EQ("undefined", back.i_comment);
  EXPECT_EQ("id: 2", r.line("the next cell"));
}

TEST(VantleTest, TextsThatOneLineCannotCarry) {
  vantle_record v = filled();
  v.i_comment = "no end mark";
  v.doc_id = "two\nlines";
  v.owner_email = "%%odd";
  v.symbolic_name = "";
  std::string text = save(v);
  EXPECT_NE(std::string::npos, text.find("\n%%two%0Alines\n"));
  EXPECT_NE(std::string::npos, text.find("\n%%no end mark\n"));
  vantle_record back = load(text);
  expect_same(v, back);
  EXPECT_EQ(text, save(back));

  for (std::string comment : {"a#!\nb#!", "undefined\nmore#!", "", "x#!\r", "#!", "a\n\nb#!"}) {
    v.i_comment = comment;
    vantle_record again = load(save(v));
    EXPECT_EQ(comment, again.i_comment);
  }
}

TEST(VantleTest, CollectedEntriesReverseOnEachLoad) {
  vantle_record v = filled();
  info_entry a;
  a.doc_id = "A";
  a.i_comment = "about a#!";
  info_entry b;
  b.doc_id = "B";
  b.i_comment = "line 1\nline 2#!";
  site::add_info_entry(v, a, std::string("east"));
  site::add_info_entry(v, b);
  ASSERT_EQ(2, v.collected_vantles);
  EXPECT_EQ("east", v.info_link.back().orv_id);  // the site that answered A
  EXPECT_EQ("B", v.info_link.front().doc_id);
  EXPECT_EQ(-1, v.info_link.front().ic_id);
  EXPECT_EQ("N/A", v.info_link.front().orv_id);
  EXPECT_EQ('n', v.info_link.front().copy_mark);
  site::add_profile_entry(v, "P1");
  site::add_profile_entry(v, "P2");
  v.fusion = site::fuse_info_gathering(v);

  std::string text = save(v);
  vantle_record back = load(text);
  expect_same(v, back);
  ASSERT_EQ(2u, back.info_link.size());
  EXPECT_EQ("A", back.info_link.front().doc_id);
  EXPECT_EQ("east", back.info_link.front().orv_id);
  EXPECT_EQ("line 1\nline 2#!", back.info_link.back().i_comment);
  EXPECT_EQ("P1", back.profile_link.front().doc_id);
  ASSERT_TRUE(back.fusion);
  EXPECT_EQ("B#A#!", back.fusion->doc_id);
  vantle_record twice = load(save(back));
  EXPECT_EQ(text, save(twice)) << "two cycles give the first text back";
}

TEST(VantleTest, PassingOverABlockEndsWhereLoadingItDoes) {
  // Lists, comments of several lines (in the vantle, an entry and the
  // fusion) and a comment only the encoded form carries.
  vantle_record v = filled();
  info_entry a;
  a.i_comment = "line 1\nline 2#!";
  info_entry b;
  b.i_comment = "no end mark";
  site::add_info_entry(v, a, std::string("east"));
  site::add_info_entry(v, b);
  site::add_profile_entry(v, "P1");
  v.fusion = site::fuse_info_gathering(v);
  for (const vantle_record& block : {v, vantle_record{}}) {
    const std::string text = save(block) + "id: 9\n";
    engine::store_reader r(text);
    vantle_record passed;
    int described = 0;
    site::pass_vantle(r, passed, [&] {
      ++described;
      EXPECT_EQ(block.i_am, passed.i_am) << "the group's list is read before the report";
    });
    EXPECT_EQ(1, described);
    EXPECT_EQ(block.ic_id, passed.ic_id);
    EXPECT_EQ(block.orv_id, passed.orv_id);
    EXPECT_EQ(block.copy_mark, passed.copy_mark);
    EXPECT_EQ("id: 9", r.line("the next cell"));
  }
}

TEST(VantleTest, CountMismatchIsReportedAndTheWalkedCountWritten) {
  vantle_record v = filled();
  site::add_info_entry(v, info_entry{});
  v.collected_vantles = 5;
  site::add_profile_entry(v, "P");
  v.collected_doc_ids = 0;
  std::ostringstream page;
  std::string text = save(v, &page);
  EXPECT_NE(std::string::npos, text.find("info_link: 1\n"));
  EXPECT_NE(std::string::npos, text.find("profile_link: 1\n"));
  EXPECT_EQ(
      "save_mm: something wrong in the element # of info_link.<p>\n"
      "save_mm: something wrong with the # of the element of profile_link.<p>\n",
      page.str());
}

TEST(VantleTest, FusionOfInfoGathering) {
  vantle_record v = filled();
  info_entry second, first;
  second.doc_id = "d2";
  second.i_am = "b#c#!";
  second.i_love = "x#!";
  second.i_hate = "!";
  second.i_keyword = "k,m#!";
  second.i_comment = "#!";
  first.doc_id = "d1";
  first.i_am = "a#b#!";
  first.i_love = "y#!";
  first.i_hate = "h#!";
  first.i_keyword = "k,l#!";
  first.i_comment = "x#!";
  site::add_info_entry(v, second);
  site::add_info_entry(v, first);  // the front entry
  site::fusion_record f = site::fuse_info_gathering(v);
  EXPECT_EQ("d1#d2#!", f.doc_id);
  EXPECT_EQ("a#b#c#!", f.i_am);
  EXPECT_EQ("y#x#!", f.i_love);
  EXPECT_EQ("h#!", f.i_hate);
  EXPECT_EQ("k#l#m#!", f.i_keyword) << "the first list's commas become #";
  EXPECT_EQ("x#!", f.i_comment) << "two-character comments are skipped";
  EXPECT_EQ("#!", f.i_behave);
  EXPECT_EQ(3, f.ic_id);
  EXPECT_EQ("north", f.orv_id);
  EXPECT_EQ("Info_Gathering", f.vantle_type);

  std::string merged = "ab#";
  site::merge_keywords(merged, "b#!");
  EXPECT_EQ("ab#", merged) << "b# occurs inside ab#";
  merged = "a#";
  site::merge_keywords(merged, "b#tail");
  EXPECT_EQ("a#b#", merged) << "a final word without separator is not merged";
}

TEST(VantleTest, FusionKeepsEveryByteOfACommentWithoutItsEnd) {
  vantle_record v = filled();
  info_entry older, newer;
  older.i_comment = "Linsen f\xC3\xBCr \xC3\x86r\xC3\xB8 \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC";
  newer.i_comment = "\xC3\x93ptica del sur#!";
  site::add_info_entry(v, older);
  site::add_info_entry(v, newer);
  EXPECT_EQ("\xC3\x93ptica del sur#Linsen f\xC3\xBCr \xC3\x86r\xC3\xB8 \xE2\x80\x93 "
            "\xE6\x9D\xB1\xE4\xBA\xAC#!",
            site::fuse_info_gathering(v).i_comment);
}

TEST(VantleTest, FusionOfProfile) {
  vantle_record v = filled();
  v.vantle_type = "Profile";
  site::add_profile_entry(v, "p1");
  site::add_profile_entry(v, "p2");
  site::fusion_record f = site::fuse_profile(v);
  EXPECT_EQ("p2#p1#!", f.doc_id);
  EXPECT_EQ(v.i_am, f.i_am);
  EXPECT_EQ(v.i_comment, f.i_comment);
  EXPECT_EQ("Profile", f.vantle_type);
}

TEST(VantleTest, DamagedBlockIsReported) {
  std::string text = save(filled());
  std::string broken = text.substr(0, text.find("info_link")) + "info_link: x\n";
  engine::store_reader r(broken);
  vantle_record v;
  try {
    site::load_vantle(r, v, nullptr);
    FAIL();
  } catch (const engine::store_error& e) {
    EXPECT_EQ(20, e.line);
    EXPECT_EQ("\"info_link: \" must be followed by a count", e.what);
  }
  vantle_record open_comment = filled();
  std::string cut = text.substr(0, text.find("second line"));
  engine::store_reader r2(cut);
  try {
    site::load_vantle(r2, open_comment, nullptr);
    FAIL();
  } catch (const engine::store_error& e) {
    EXPECT_EQ("the file ends where the line that ends a comment with \"#!\" is expected", e.what);
  }
}

class VantleDbTest : public ::testing::Test {
 protected:
  VantleDbTest() : old_(::getcwd(nullptr, 0)) { EXPECT_EQ(0, ::chdir(dir_.path().c_str())); }
  ~VantleDbTest() override {
    if (::chdir(old_) != 0) ADD_FAILURE();
    free(old_);
  }
  test_util::scoped_temp_dir dir_;
  char* old_;
  std::ostringstream out_;
  formdecode::page pg_{out_};
};

TEST_F(VantleDbTest, RegisterAndLookUp) {
  EXPECT_FALSE(site::vantle_name_taken("", pg_)) << "no file: free, no warning";
  EXPECT_EQ("", out_.str());
  ASSERT_TRUE(site::vantle_db_append("doc", "d1"));
  ASSERT_TRUE(site::vantle_db_append("other", "d1"));
  EXPECT_EQ("doc\nd1\nother\nd1\n", test_util::read_file("vantle_db"));
  EXPECT_TRUE(site::vantle_name_taken("doc", pg_));
  EXPECT_TRUE(site::vantle_name_taken("other", pg_));
  EXPECT_FALSE(site::vantle_name_taken("Doc", pg_));
  EXPECT_FALSE(site::vantle_name_taken("", pg_));
  EXPECT_EQ("Warning: there is no symbolic name.\n<p>", out_.str());
  EXPECT_FALSE(site::vantle_db_append("two\nlines", "d"));
  EXPECT_FALSE(site::vantle_db_append("n", "d\n"));
  EXPECT_EQ("doc\nd1\nother\nd1\n", test_util::read_file("vantle_db"));
}

TEST_F(VantleDbTest, IncompleteLastRecord) {
  test_util::write_file("vantle_db", "doc\nd1\nlast\n");
  EXPECT_FALSE(site::vantle_name_taken("last", pg_));
  EXPECT_EQ("Error: the last record is not complete!!\n<p>", out_.str());
}

TEST(OrvHooksTest, VantleMemoryAndBlocks) {
  std::ostringstream page;
  formdecode::output out(page);
  site::orv_hooks hooks(out, "north");
  EXPECT_EQ(nullptr, hooks.new_internal_mm("MAP"));
  EXPECT_EQ("Unknown ic type: MAP\n", page.str());
  engine::ic_record cell;
  cell.mm = hooks.new_internal_mm("VANTLE");
  ASSERT_NE(nullptr, dynamic_cast<vantle_record*>(cell.mm.get()));
  auto& v = dynamic_cast<vantle_record&>(*cell.mm);
  v = filled();
  engine::store_writer w;
  hooks.save_mm(w, cell);
  page.str("");
  engine::ic_record back;
  back.mm = hooks.new_internal_mm("VANTLE");
  engine::store_reader r(w.str());
  hooks.load_mm(r, back, engine::mm_reading::load);
  EXPECT_EQ("Calling VG updating funciton...<br>\n", page.str());
  EXPECT_EQ("doc-1", dynamic_cast<vantle_record&>(*back.mm).doc_id);

  v.i_am = "!";
  engine::store_writer w2;
  hooks.save_mm(w2, cell);
  page.str("");
  engine::store_reader r2(w2.str());
  hooks.load_mm(r2, back, engine::mm_reading::load);
  EXPECT_EQ("", page.str()) << "an empty i_am joins no group";

  engine::ic_record plain;
  engine::store_writer w3;
  hooks.save_mm(w3, plain);
  EXPECT_EQ("", w3.str());

  EXPECT_EQ(14u, site::orv_message_types.size());
  EXPECT_EQ("MSG_MOVE_DELETE", site::orv_message_types[8].name);
  EXPECT_EQ(52, site::orv_message_types[8].number);
}

}  // namespace
