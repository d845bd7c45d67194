#include "text/text.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"

namespace {

TEST(Text, ParseNumberTakesTheWholeTextInItsRangeOnly) {
  EXPECT_EQ(3, text::parse_number("3", 0, 9));
  EXPECT_EQ(-12, text::parse_number("-12", -20, 20));
  for (const char* bad : {"", "+3", " 3", "3 ", "3a", "0x3", "-", "10", "-0"}) {
    EXPECT_FALSE(text::parse_number(bad, 0, 9)) << bad;
  }
  EXPECT_FALSE(text::parse_number<std::int32_t>("2147483648", INT32_MIN, INT32_MAX));
  EXPECT_EQ(INT32_MIN, text::parse_number<std::int32_t>("-2147483648", INT32_MIN, INT32_MAX));
}

TEST(Text, LeadingNumberReadsAsTheCLibraryDoes) {
  for (const char* s : {"42", "  +42 rest", "-7x", "", "abc", " - 1", "+-1", "\t\n9",
                        "99999999999999999999", "-99999999999999999999",
                        "9223372036854775807", "-9223372036854775808"}) {
    EXPECT_EQ(std::strtoll(s, nullptr, 10), text::leading_number(s)) << s;
  }
  bool overflow = false;
  text::leading_number("123456789012345678901", &overflow);
  EXPECT_TRUE(overflow);
  text::leading_number("12", &overflow);
  EXPECT_FALSE(overflow);
}

TEST(Text, ClassesHexAndCase) {
  EXPECT_TRUE(text::is_space('\v'));
  EXPECT_FALSE(text::is_space('\0'));
  EXPECT_TRUE(text::is_blank('\t'));
  EXPECT_FALSE(text::is_blank('\n'));
  EXPECT_EQ(15, text::hex_value('f'));
  EXPECT_EQ(10, text::hex_value('A'));
  EXPECT_EQ(-1, text::hex_value('g'));
  EXPECT_EQ("mixed \xc3\x89t\xc3\xa9 9", text::lower("MiXed \xc3\x89T\xc3\xa9 9"));
}

TEST(Text, SplitLinesDropsLineEndsAndKeepsALastOpenLine) {
  auto lines = text::split_lines("a\r\n\nb");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("a", lines[0]);
  EXPECT_EQ("", lines[1]);
  EXPECT_EQ("b", lines[2]);
  EXPECT_TRUE(text::split_lines("").empty());
  EXPECT_EQ(1u, text::split_lines("x\n").size());
}

TEST(Text, TheTwoOneLineRules) {
  // A field of a file: only the line ends change, so the length stays.
  EXPECT_EQ("a  b\tc ", text::line_ends_as_blanks("a\r\nb\tc\n"));
  // A text shown on one line: runs of blanks squeezed, controls dropped, cut.
  EXPECT_EQ("a b c", text::one_line("  a\r\n\tb\x01 c \n"));
  EXPECT_EQ("abc", text::one_line("abcdef", 3));
  EXPECT_TRUE(text::is_one_line("a b"));
  EXPECT_FALSE(text::is_one_line("a\rb"));
}

}  // namespace
