#include "json/json.h"

#include "gtest/gtest.h"

namespace {

TEST(Json, TextsAreEscapedAndAlwaysValidUtf8) {
  struct {
    std::string in;
    std::string want;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c\nd\te\x01", "\"a\\\"b\\\\c\\nd\\te\\u0001\""},
      {"Stra\xC3\x9F" "e \xC3\xB6stlich", "\"Stra\xC3\x9F" "e \xC3\xB6stlich\""},
      {"\xF0\x9F\x99\x82", "\"\xF0\x9F\x99\x82\""},
      // A Latin-1 byte, an overlong slash, a surrogate, a cut sequence.
      {"caf\xE9!", "\"caf\xEF\xBF\xBD!\""},
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"x\xE2\x82", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, json::quote(c.in)) << c.in;
}

TEST(Json, WriterPutsCommasBetweenMembersAndElements) {
  std::string out;
  json::writer w(out);
  w.begin_object();
  w.member("n", 3).member("t", "x").member("none", std::optional<std::string>());
  w.key("list").begin_array().value(1).begin_object().end_object().value(false).end_array();
  w.member("words", std::vector<std::string>{"a", "b"});
  w.end_object();
  EXPECT_EQ("{\"n\":3,\"t\":\"x\",\"none\":null,\"list\":[1,{},false],\"words\":[\"a\",\"b\"]}", out);
}

}  // namespace
