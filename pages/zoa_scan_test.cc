// Scanner of the tag language: token codes, modes, lines and columns.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "pages/zoa_lang.h"

namespace {

using pages::scan_mode;
using pages::zoa_scanner;

// One token as the scanner left it.
struct tok {
  int code;
  int line;
  int column;
  std::string text;  // last text after a character or string token, else ""

  bool operator==(const tok&) const = default;
};

std::ostream& operator<<(std::ostream& os, const tok& t) {
  return os << "{" << t.code << ", " << t.line << ", " << t.column << ", \"" << t.text << "\"}";
}

// Every token of `input` up to the end (or the first too-long token).
std::vector<tok> scan(const std::string& input) {
  zoa_scanner sc(input);
  std::vector<tok> out;
  for (;;) {
    int code = sc.next();
    if (code == pages::end_of_input) break;
    bool has_text = code == pages::tok_char || code == pages::tok_string;
    out.push_back({code, sc.state().line, sc.state().column,
                   has_text ? sc.state().last_text : std::string()});
    if (code == pages::tok_too_long) break;
  }
  return out;
}

std::vector<int> codes(const std::string& input) {
  std::vector<int> out;
  for (const tok& t : scan(input)) out.push_back(t.code);
  return out;
}

TEST(ZoaScan, EveryTagAndKeywordHasItsCode) {
  struct {
    const char* lexeme;
    int code;
  } table[] = {
      {"</ZOA>", 258}, {"<ZOA_NAME>", 259}, {"</ZOA_NAME>", 260}, {"<ZOA_TYPE>", 261},
      {"</ZOA_TYPE>", 262}, {"image", 263}, {"text", 264}, {"audio", 265},
      {"motion_graph", 266}, {"video", 267}, {"mixed", 268}, {"<ZOA_TEMPLATE>", 269},
      {"</ZOA_TEMPLATE>", 270}, {"<ZOA_LINKS>", 271}, {"</ZOA_LINKS>", 272}, {"=", 273},
      {"name", 274}, {"type", 275}, {"obj", 276}, {"spatial", 277}, {"temporal", 278},
      {"structural", 279}, {"<ZOA_IC>", 280}, {"</ZOA_IC>", 281}, {"<ZOA_SENSI>", 282},
      {"</ZOA_SENSI>", 283}, {"location", 284}, {"content", 285}, {"time", 286}, {",", 288},
      {"<ZOA_REL>", 289}, {"</ZOA_REL>", 290}, {"old", 292}, {"OLD", 292}, {"new", 293},
      {"NEW", 293}, {"flag", 294}, {"ic_type", 295}, {"ic_id_list", 296},
      {"message_type", 297}, {"?", 298}, {"<ZOA_IC_INPUT>", 299}, {"cgi", 300},
      {"<ZOA_DB>", 301}, {"</ZOA_DB>", 302}, {"<ZOA_DB_HERE>", 303},
      {"<ZOA_TEMPLATE_INPUT>", 304}, {"</ZOA_TEMPLATE_INPUT>", 305},
      {"<ZOA_INPBOX_PAR>", 306}, {"<ZOA_RADIO_PAR>", 307}, {"<ZOA_CHKBOX_PAR>", 308},
      {"<ZOA_SKIP_PAR>", 309},
  };
  for (const auto& t : table) {
    // "<ZOA>" puts the scanner in TAG mode, where every lexeme is known.
    std::vector<tok> got = scan(std::string("<ZOA>") + t.lexeme);
    ASSERT_EQ(2u, got.size()) << t.lexeme;
    EXPECT_EQ(257, got[0].code);
    EXPECT_EQ(t.code, got[1].code) << t.lexeme;
    EXPECT_EQ(6 + static_cast<int>(std::string(t.lexeme).size()), got[1].column) << t.lexeme;
  }
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {310, 0, 12, "ab"}}), scan("<ZOA>\"ab\""));
}

TEST(ZoaScan, TextModeKnowsOnlyTags) {
  // Keywords, blanks, tabs and quotes are plain characters outside a tag.
  EXPECT_EQ((std::vector<int>{291, 291, 291, 291, 291, 291, 291, 291}), codes("name \t\"?"));
  EXPECT_EQ((std::vector<tok>{{291, 0, 2, "a"}, {303, 0, 15, ""}}), scan("a<ZOA_DB_HERE>"));
  // A tag name that the table does not list: one token per character.
  std::vector<tok> got = scan("<ZOA_X>");
  ASSERT_EQ(7u, got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(291, got[i].code);
    EXPECT_EQ(std::string(1, "<ZOA_X>"[i]), got[i].text);
    EXPECT_EQ(static_cast<int>(i) + 2, got[i].column);
  }
}

TEST(ZoaScan, TagsSwitchModes) {
  zoa_scanner sc("<ZOA_REL>x</ZOA_REL>y<ZOA>\"s</ZOA>");
  EXPECT_EQ(scan_mode::text, sc.mode());
  EXPECT_EQ(289, sc.next());
  EXPECT_EQ(scan_mode::tag, sc.mode());
  EXPECT_EQ(291, sc.next());
  EXPECT_EQ(290, sc.next());
  EXPECT_EQ(scan_mode::text, sc.mode());
  EXPECT_EQ(291, sc.next());
  EXPECT_EQ(257, sc.next());
  // Inside quotes a tag is part of the string, which never ends here.
  EXPECT_EQ(0, sc.next());
  EXPECT_EQ(scan_mode::string, sc.mode());
  // The rest of the tags keep the mode.
  zoa_scanner other("<ZOA><ZOA_NAME></ZOA_NAME><ZOA_IC><ZOA_DB>");
  for (int i = 0; i < 5; ++i) other.next();
  EXPECT_EQ(scan_mode::tag, other.mode());
}

TEST(ZoaScan, CaseAndLongestMatch) {
  // Only old and new have capital twins; a longer word is a keyword and
  // then characters.
  EXPECT_EQ((std::vector<int>{257, 291, 291, 291}), codes("<ZOA>Old"));
  EXPECT_EQ((std::vector<int>{257, 291, 291, 291, 291, 291}), codes("<ZOA>Image"));
  EXPECT_EQ((std::vector<int>{257, 274, 291}), codes("<ZOA>names"));
  EXPECT_EQ((std::vector<int>{257, 295, 273, 298, 310}), codes("<ZOA>ic_type=?\"?\""));
  EXPECT_EQ((std::vector<int>{291, 291, 291, 291, 291, 291, 291, 291, 291, 291}),
            codes("<zoa_name>"));
}

TEST(ZoaScan, LineBreakIsCarriedIntoTheNextToken) {
  EXPECT_EQ((std::vector<tok>{{291, 0, 2, "a"}, {291, 1, 2, "\nb"}, {291, 3, 3, "\n\nc"}}),
            scan("a\nb\n\nc"));
  // A line break at the very end has no token to go with.
  EXPECT_EQ((std::vector<tok>{{291, 0, 2, "a"}}), scan("a\n"));
  // Line breaks before "<ZOA>" count as its characters.
  EXPECT_EQ((std::vector<tok>{{257, 2, 7, ""}}), scan("\n\n<ZOA>"));
}

TEST(ZoaScan, BlanksAndTabsInTagMode) {
  // Blanks are skipped but counted; a carried line break counts with them.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {273, 0, 9, ""}, {273, 1, 4, ""}}),
            scan("<ZOA>  =\n  ="));
  // A tab moves to the next tab stop: ((column - 1) / 8) * 8 + 8.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {274, 0, 12, ""}}), scan("<ZOA>\tname"));
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {273, 0, 10, ""}, {273, 0, 17, ""}}),
            scan("<ZOA>   =\t="));
  // Right after a line break (column 0) a tab goes to column 8, and the
  // line break it swallowed does not count.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {273, 1, 9, ""}}), scan("<ZOA>\n\t="));
  // A carriage return is a character, in TAG mode as in TEXT mode.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {291, 0, 7, "\r"}}), scan("<ZOA>\r"));
}

TEST(ZoaScan, StringBodyIsCountedTwice) {
  // Opening quote 1, body 3, then body and closing quote 4 again.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {310, 0, 14, "abc"}}), scan("<ZOA>\"abc\""));
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {310, 0, 8, ""}}), scan("<ZOA>\"\""));
  // A line break inside quotes belongs to the value and is not a line.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {310, 0, 14, "a\nb"}, {273, 0, 15, ""}}),
            scan("<ZOA>\"a\nb\"="));
  // A line break before the opening quote is counted with the quote and
  // stays out of the value.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {310, 1, 5, "x"}}), scan("<ZOA>\n\"x\""));
  // Tags inside quotes are text; the string ends in TAG mode.
  EXPECT_EQ((std::vector<tok>{{257, 0, 6, ""}, {310, 0, 20, "</ZOA>"}, {274, 0, 24, ""}}),
            scan("<ZOA>\"</ZOA>\"name"));
}

TEST(ZoaScan, TokenTextLimit) {
  // The closing quote belongs to the token text: 510 characters of value
  // make a 511-character token.
  std::vector<tok> ok = scan("<ZOA>\"" + std::string(510, 'x') + "\"");
  ASSERT_EQ(2u, ok.size());
  EXPECT_EQ(310, ok[1].code);
  EXPECT_EQ(std::string(510, 'x'), ok[1].text);
  EXPECT_EQ(pages::tok_too_long, scan("<ZOA>\"" + std::string(511, 'x') + "\"").back().code);
  EXPECT_EQ(pages::tok_too_long, scan("<ZOA>\"" + std::string(600, 'x')).back().code);
  // Line breaks carried into one token count too.
  EXPECT_EQ(291, scan(std::string(510, '\n') + "a").back().code);
  EXPECT_EQ(pages::tok_too_long, scan(std::string(511, '\n') + "a").back().code);
}

TEST(ZoaScan, HighBytesAndNulAreCharacters) {
  std::string input("\xe9\0b", 3);
  std::vector<tok> got = scan(input);
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ("\xe9", got[0].text);
  EXPECT_EQ(std::string(1, '\0'), got[1].text);
  EXPECT_EQ(4, got[2].column);
}

}  // namespace
