#include "platform/json_string.h"

#include "gtest/gtest.h"

namespace {

TEST(JsonString, EscapesAndKeepsValidUtf8) {
  struct {
    std::string in, want;
  } cases[] = {
      {"", "\"\""},
      {"a\"b\\c\nd\te\x7f", "\"a\\\"b\\\\c\\nd\\u0009e\\u007f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
      // Bytes of no valid sequence, one replacement each.
      {"x\xffy", "\"x\\ufffdy\""},
      {"\xe9t\xe9", "\"\\ufffdt\\ufffd\""},         // Latin-1, not UTF-8
      {"\xc3", "\"\\ufffd\""},                       // cut short at the end
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},            // overlong "/"
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
      {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // above U+10FFFF
      {std::string("a\0b", 3), "\"a\\u0000b\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, platform::json_string(c.in)) << c.in;
}

}  // namespace
