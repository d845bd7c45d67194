#include "site/form_check.h"

#include <sstream>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

TEST(FormCheck, KeywordListsAreMendedAtTheirEnd) {
  struct {
    const char* in;
    const char* want;
  } cases[] = {
      {"physics", "physics#!"},   {"physics#", "physics#!"},      {"physics#!", "physics#!"},
      {"a#b!", "a#b#!"},          {"a,b", "a,b#!"},               {"!", "!"},
      {"", "!"},                  {" physics , optics ", "physics,optics#!"},
      {"retrieval databases", "retrieval databases#!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, site::mend_keyword_list(c.in, nullptr).value_or("(refused)")) << c.in;
  }
  std::string why;
  EXPECT_FALSE(site::mend_keyword_list("a!b#!", &why));
  EXPECT_EQ("\"!\" may only end a keyword list", why);
}

TEST(FormCheck, CommentsEndWithTheirMark) {
  EXPECT_EQ("Notes#!", site::mend_comment("Notes"));
  EXPECT_EQ("Notes#!", site::mend_comment("Notes#!"));
  EXPECT_EQ("a#!\nb#!", site::mend_comment("a#!\nb")) << "the last line must hold it";
  EXPECT_EQ("#!", site::mend_comment(""));
}

using FormCheckRun = test_util::in_temp_dir;

engine::ext_message create(const std::string& values) {
  engine::ext_message m;
  m.flag = engine::IC_TYPE;
  m.msg_type_name = "MSG_CREATE";
  m.ic_type = "VANTLE";
  m.content = values + "|NULL";
  return m;
}

TEST_F(FormCheckRun, CreateIsMendedOrRefusedWithOneLine) {
  std::string err;
  std::optional<site::knowledge_base> kb =
      site::parse_knowledge_base("science (\nphysics\noptics\n)\n", &err);
  ASSERT_TRUE(kb) << err;
  test_util::write_file("vantle_db", "taken\nd0\n");

  auto check = [&](engine::ext_message& m) {
    std::ostringstream s;
    formdecode::page pg(s);
    bool ok = site::check_form(m, &kb->groups, pg);
    return ok ? std::string("ok") : s.str();
  };

  engine::ext_message m = create("d1|Physics|optics#|!|!|lenses|Linsen f\xC3\xBCr|Archives|n1");
  EXPECT_EQ("ok", check(m));
  EXPECT_EQ("d1|Physics#!|optics#!|!|!|lenses#!|Linsen f\xC3\xBCr#!|Archives|n1|NULL", m.content);

  struct {
    std::string values;
    std::string line;
  } refused[] = {
      {"d1|chemistry|!|!|!|!|c|Archives|n1",
       "The word \"chemistry\" of i_am is refused: it is not a keyword of the knowledge base "
       "kb.txt.\n<p>"},
      {"d1|physics|" + std::string(81, 'w') + "|!|!|!|c|Archives|n1",
       "The word \"" + std::string(81, 'w') + "\" of i_love is refused: it is 81 bytes long, "
       "at most 80.\n<p>"},
      {"d1|!|!|!|!|!|c|Archives|taken",
       "The value \"taken\" of sym_name is refused: another vantle has this name in "
       "vantle_db.\n<p>"},
      {"d1|!|!|!|!|!|c|Archives|" + std::string(50, 'n'),
       "The value \"" + std::string(50, 'n') + "\" of sym_name is refused: it is 50 bytes long, "
       "at most 49.\n<p>"},
      {"d1|!|!|!|!|!|c|Poster|n1",
       "The value \"Poster\" of vantle_type is refused: it is none of Site_Building, Archives, "
       "Profile, Info_Gathering.\n<p>"},
      {"d1|<i>|!",
       "The value \"d1|&lt;i&gt;|!\" of content is refused: MSG_CREATE needs 9 values "
       "(doc_id|i_am|i_love|i_hate|i_behave|i_keyword|i_comment|vantle_type|sym_name), and it "
       "has 3.\n<p>"},
  };
  for (const auto& r : refused) {
    engine::ext_message bad = create(r.values);
    EXPECT_EQ(r.line, check(bad)) << r.values;
  }
  std::string many;
  for (int i = 0; i < 51; ++i) many += "physics#";
  engine::ext_message bad = create("d1|" + many + "!|!|!|!|!|c|Archives|n1");
  EXPECT_EQ("The value \"" + many.substr(0, 100) + "...\" of i_am is refused: it has 51 words, "
            "at most 50.\n<p>",
            check(bad));
}

TEST_F(FormCheckRun, ASettingNeedsAValue) {
  for (const char* content : {"SERVER_ID|NULL", "ORV_ID||NULL", "SET_EMAIL_ADDRESS|q", "NULL"}) {
    engine::ext_message m;
    m.flag = engine::ORV_MSG;
    m.msg_type_name = "MSG_UPDATE_CONFIG";
    m.content = content;
    std::ostringstream s;
    formdecode::page pg(s);
    EXPECT_FALSE(site::check_form(m, nullptr, pg)) << content;
    EXPECT_NE(std::string::npos, s.str().find("of content is refused: a setting is changed with "
                                              "its key, \"|\" and a value.\n<p>"))
        << s.str();
  }
}

}  // namespace
