// Parser of page descriptions: the descriptor the actions fill, and the
// error line.
#include <sstream>
#include <string>

#include "gtest/gtest.h"
#include "pages/zoa_lang.h"

namespace {

using pages::zoa_page;

// The result of parsing one description.
struct parsed {
  int result;        // 0 success, 1 error
  zoa_page page;     // what the actions stored
  std::string out;   // what went to the page (the error line)
};

parsed parse(const std::string& input) {
  std::ostringstream os;
  formdecode::page pg(os);
  parsed p;
  pages::zoa_scanner sc(input);
  p.result = pages::parse_page(sc, p.page, pg);
  p.out = os.str();
  return p;
}

std::string error_at(int line, int column, const std::string& text = "syntax error") {
  return "Syntax Error -- Line:" + std::to_string(line) + ", Column:" + std::to_string(column) +
         " -- " + text + "\n";
}

TEST(ZoaParse, NameAlone) {
  parsed p = parse("<ZOA><ZOA_NAME>\"home\"</ZOA_NAME></ZOA>");
  EXPECT_EQ(0, p.result);
  EXPECT_EQ("", p.out);
  EXPECT_EQ("home", p.page.name);
  EXPECT_EQ(0, p.page.media_type);
  EXPECT_FALSE(p.page.template_file);
  EXPECT_FALSE(p.page.template_input);
  EXPECT_TRUE(p.page.links.empty());
  EXPECT_FALSE(p.page.form);
  EXPECT_EQ("", p.page.db_access);
  EXPECT_EQ(0, p.page.sensitivity);

  p = parse("<ZOA><ZOA_NAME>\"home\"</ZOA_NAME><ZOA_TYPE>  mixed\t</ZOA_TYPE></ZOA>");
  EXPECT_EQ(0, p.result);
  EXPECT_EQ(pages::media_mixed, p.page.media_type);
}

TEST(ZoaParse, EveryItem) {
  parsed p = parse(
      "\n\n<ZOA>\n"
      "  <ZOA_NAME> \"n\" </ZOA_NAME>\n"
      "  <ZOA_TYPE> image </ZOA_TYPE>\n"
      "  <ZOA_TEMPLATE> \"pic.gif\" </ZOA_TEMPLATE>\n"
      "  <ZOA_TEMPLATE_INPUT> \"vals\" </ZOA_TEMPLATE_INPUT>\n"
      "  <ZOA_DB> \"db 1\" </ZOA_DB>\n"
      "  <ZOA_SENSI> time </ZOA_SENSI>\n"
      "  <ZOA_LINKS> name = \"r\", type = temporal, obj = \"o\" </ZOA_LINKS>\n"
      "  <ZOA_IC> flag = OLD, ic_type = \"T\" ic_id_list = \"1 2\" message_type = \"M\"\n"
      "           content = \"c\" cgi = \"orv.cgi\" </ZOA_IC>\n"
      "</ZOA>\n\n");
  EXPECT_EQ(0, p.result);
  EXPECT_EQ("", p.out);
  EXPECT_EQ("n", p.page.name);
  EXPECT_EQ(pages::media_image, p.page.media_type);
  EXPECT_EQ("pic.gif", p.page.template_file);
  EXPECT_EQ("vals", p.page.template_input);
  EXPECT_EQ("db 1", p.page.db_access);
  EXPECT_EQ(3, p.page.sensitivity);
  ASSERT_EQ(1u, p.page.links.size());
  EXPECT_EQ("r", p.page.links[0].name);
  EXPECT_EQ(pages::link_temporal, p.page.links[0].kind);
  EXPECT_EQ("o", p.page.links[0].obj);
  ASSERT_TRUE(p.page.form);
  EXPECT_EQ(pages::flag_old, p.page.form->flag);
  EXPECT_FALSE(p.page.form->flag_prompt);
  EXPECT_EQ("T", p.page.form->ic_type);
  EXPECT_EQ("1 2", p.page.form->ic_id_list);
  EXPECT_EQ("M", p.page.form->message_type);
  EXPECT_EQ("c", p.page.form->content);
  EXPECT_EQ("orv.cgi", p.page.form->cgi);
}

TEST(ZoaParse, MediaTypesAndSensitivities) {
  const char* media[] = {"image", "text", "audio", "motion_graph", "video", "mixed"};
  for (int i = 0; i < 6; ++i) {
    parsed p = parse(std::string("<ZOA><ZOA_TYPE>") + media[i] + "</ZOA_TYPE></ZOA>");
    EXPECT_EQ(0, p.result) << media[i];
    EXPECT_EQ(i + 1, p.page.media_type) << media[i];
  }
  const char* sensi[] = {"location", "content", "time"};
  for (int i = 0; i < 3; ++i) {
    parsed p = parse(std::string("<ZOA><ZOA_SENSI>") + sensi[i] + "</ZOA_SENSI></ZOA>");
    EXPECT_EQ(i + 1, p.page.sensitivity) << sensi[i];
  }
  EXPECT_EQ(1, parse("<ZOA><ZOA_TYPE>Mixed</ZOA_TYPE></ZOA>").result);
}

TEST(ZoaParse, OnlyLineBreaksAroundTheElement) {
  EXPECT_EQ(error_at(0, 2), parse(" <ZOA><ZOA_NAME>\"a\"</ZOA_NAME></ZOA>").out);
  EXPECT_EQ(error_at(0, 2), parse("x<ZOA><ZOA_NAME>\"a\"</ZOA_NAME></ZOA>").out);
  EXPECT_EQ(0, parse("\n\n<ZOA><ZOA_NAME>\"a\"</ZOA_NAME></ZOA>\n\n").result);
  // After "</ZOA>" the scanner is back in TEXT mode: a blank is a character.
  EXPECT_EQ(error_at(1, 2), parse("<ZOA><ZOA_NAME>\"a\"</ZOA_NAME></ZOA>\n ").out);
}

TEST(ZoaParse, Prompts) {
  parsed p = parse(
      "<ZOA><ZOA_IC> flag = ? ic_type = \"?\" ic_id_list = ? \"Which cell?\"\n"
      "  message_type = ? content = ? \"Your text\" cgi = \"\" </ZOA_IC></ZOA>");
  EXPECT_EQ(0, p.result);
  ASSERT_TRUE(p.page.form);
  const pages::ic_form& f = *p.page.form;
  EXPECT_EQ(pages::flag_choose, f.flag);
  EXPECT_FALSE(f.flag_prompt);
  EXPECT_EQ("?", f.ic_type);  // a quoted question mark is a string
  EXPECT_EQ("?Which cell?", f.ic_id_list);
  EXPECT_FALSE(f.message_type);
  EXPECT_EQ("?Your text", f.content);
  EXPECT_FALSE(f.cgi);  // an empty cgi is none

  p = parse("<ZOA><ZOA_IC> flag = ? \"Pick one\", cgi = ? \"url\" </ZOA_IC></ZOA>");
  EXPECT_EQ(pages::flag_choose, p.page.form->flag);
  EXPECT_EQ("?Pick one", p.page.form->flag_prompt);
  EXPECT_EQ("?url", p.page.form->cgi);

  p = parse("<ZOA><ZOA_IC> flag = ? \"x\" flag = new </ZOA_IC></ZOA>");
  EXPECT_EQ(pages::flag_new, p.page.form->flag);
  EXPECT_FALSE(p.page.form->flag_prompt);
}

TEST(ZoaParse, FlagTakesABareKeyword) {
  parsed p = parse("<ZOA><ZOA_IC>flag=\"old\"</ZOA_IC></ZOA>");
  EXPECT_EQ(1, p.result);
  EXPECT_EQ(error_at(0, 27), p.out);
  EXPECT_EQ(pages::flag_old, parse("<ZOA><ZOA_IC>flag=old</ZOA_IC></ZOA>").page.form->flag);
}

TEST(ZoaParse, LinksAccumulateNewestFirst) {
  parsed p = parse(
      "<ZOA><ZOA_LINKS>name=\"a\",type=spatial,obj=\"pa\"</ZOA_LINKS>"
      "<ZOA_LINKS>obj=\"pb\",name=\"b\",type=structural,name=\"b2\"</ZOA_LINKS></ZOA>");
  EXPECT_EQ(0, p.result);
  ASSERT_EQ(2u, p.page.links.size());
  EXPECT_EQ("b2", p.page.links[0].name);  // a repeated attribute overwrites
  EXPECT_EQ(pages::link_structural, p.page.links[0].kind);
  EXPECT_EQ("pb", p.page.links[0].obj);
  EXPECT_EQ("a", p.page.links[1].name);
  EXPECT_EQ(pages::link_spatial, p.page.links[1].kind);
  // A link without a kind or target keeps them empty.
  p = parse("<ZOA><ZOA_LINKS>name=\"x\"</ZOA_LINKS></ZOA>");
  EXPECT_EQ(0, p.page.links[0].kind);
  EXPECT_FALSE(p.page.links[0].obj);
}

TEST(ZoaParse, LinkAttributesNeedCommasFormAttributesDoNot) {
  // <ZOA> 6, <ZOA_LINKS> 17, name 21, = 22, "a" 23+1+2 = 26, blank 27, type 31.
  parsed p = parse("<ZOA><ZOA_LINKS>name=\"a\" type=spatial</ZOA_LINKS></ZOA>");
  EXPECT_EQ(1, p.result);
  EXPECT_EQ(error_at(0, 31), p.out);
  EXPECT_TRUE(p.page.links.empty());  // the unfinished link is not kept
  EXPECT_EQ(0, parse("<ZOA><ZOA_IC>ic_type=\"a\" cgi=\"b\", content=\"c\"</ZOA_IC></ZOA>").result);
}

TEST(ZoaParse, RepeatedItemsLastWins) {
  parsed p = parse(
      "<ZOA><ZOA_NAME>\"a\"</ZOA_NAME><ZOA_NAME>\"b\"</ZOA_NAME>"
      "<ZOA_IC>ic_type=\"T\" content=\"c\"</ZOA_IC><ZOA_IC>cgi=\"g\"</ZOA_IC></ZOA>");
  EXPECT_EQ("b", p.page.name);
  ASSERT_TRUE(p.page.form);
  EXPECT_FALSE(p.page.form->ic_type);  // the second form starts empty
  EXPECT_EQ("g", p.page.form->cgi);
}

TEST(ZoaParse, DbAccessKeepsItsInitialValue) {
  zoa_page page;
  page.db_access = "preset";
  page.name = "stale";
  std::ostringstream os;
  formdecode::page pg(os);
  pages::zoa_scanner sc("<ZOA><ZOA_SENSI>location</ZOA_SENSI></ZOA>");
  EXPECT_EQ(0, pages::parse_page(sc, page, pg));
  EXPECT_EQ("preset", page.db_access);
  EXPECT_FALSE(page.name);  // cleared right after "<ZOA>"
}

TEST(ZoaParse, LineBreakInsideStringIsNotALine) {
  parsed p = parse("<ZOA><ZOA_NAME>\"two\nlines\"</ZOA_NAME>\nx</ZOA>");
  EXPECT_EQ("two\nlines", p.page.name);
  // Line 1 only: the quoted line break was not counted. The carried line
  // break and x give column 2.
  EXPECT_EQ(error_at(1, 2), p.out);
}

TEST(ZoaParse, ErrorKeepsWhatWasStored) {
  parsed p = parse("<ZOA>\n<ZOA_NAME> \"kept\" junk </ZOA_NAME></ZOA>");
  EXPECT_EQ(1, p.result);
  EXPECT_EQ("kept", p.page.name);
  // \n< ... : "\n<ZOA_NAME>" 11, blank 12, quote 13, body 17, close 22,
  // blank 23, j 24.
  EXPECT_EQ(error_at(1, 24), p.out);
}

TEST(ZoaParse, EmptyElementsAreErrors) {
  const char* bad[] = {
      "<ZOA></ZOA>",
      "<ZOA><ZOA_IC></ZOA_IC></ZOA>",
      "<ZOA><ZOA_LINKS></ZOA_LINKS></ZOA>",
      "<ZOA><ZOA_NAME></ZOA_NAME></ZOA>",
      "<ZOA><ZOA_DB></ZOA_DB></ZOA>",
      "<ZOA><ZOA_TEMPLATE></ZOA_TEMPLATE></ZOA>",
      "<ZOA><ZOA_NAME>\"a\"</ZOA_NAME>",        // no "</ZOA>"
      "<ZOA><ZOA_NAME>\"a</ZOA_NAME></ZOA>",    // open string
      "<ZOA><ZOA_NAME>a</ZOA_NAME></ZOA>",      // unquoted value
      "",
  };
  for (const char* input : bad) {
    parsed p = parse(input);
    EXPECT_EQ(1, p.result) << input;
    EXPECT_NE(std::string::npos, p.out.find("-- syntax error\n")) << input;
  }
  parsed p = parse("<ZOA><ZOA_NAME>\"\"</ZOA_NAME></ZOA>");
  EXPECT_EQ(0, p.result);
  EXPECT_EQ("", p.page.name);
}

TEST(ZoaParse, TokenTooLong) {
  parsed p = parse("<ZOA><ZOA_NAME>\"" + std::string(600, 'n') + "\"</ZOA_NAME></ZOA>");
  EXPECT_EQ(1, p.result);
  EXPECT_EQ(error_at(0, 17, "token too long"), p.out);
  EXPECT_FALSE(p.page.name);
}

}  // namespace
