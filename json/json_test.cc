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
      {"Stra\xC3\x9F"
       "e \xC3\xB6stlich",
       "\"Stra\xC3\x9F"
       "e \xC3\xB6stlich\""},
      {"\xF0\x9F\x99\x82", "\"\xF0\x9F\x99\x82\""},
      // A Latin-1 byte, an overlong slash, a surrogate, a cut sequence.
      {"caf\xE9!", "\"caf\xEF\xBF\xBD!\""},
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"x\xE2\x82", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // above U+10FFFF
      {std::string("a\0b\x7F", 4), "\"a\\u0000b\\u007f\""},
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
  EXPECT_EQ("{\"n\":3,\"t\":\"x\",\"none\":null,\"list\":[1,{},false],\"words\":[\"a\",\"b\"]}",
            out);
}

TEST(Json, ReadsBackWhatItWrites) {
  std::string out;
  json::writer w(out);
  w.begin_object()
      .member("name", "a\"b\n\xC3\xB6")
      .member("n", -12)
      .member("none", std::optional<std::string>());
  w.key("list").begin_array().value(true).value("x").end_array().end_object();
  std::string err;
  std::optional<json::value> v = json::parse(" " + out + "\n", &err);
  ASSERT_TRUE(v) << err;
  EXPECT_EQ("a\"b\n\xC3\xB6", v->text_of("name"));
  EXPECT_EQ(-12, v->get("n")->number());
  EXPECT_TRUE(v->get("none")->is_null());
  ASSERT_EQ(2u, v->get("list")->items().size());
  EXPECT_EQ("x", v->get("list")->items()[1].text());
  EXPECT_EQ("\xF0\x9F\x99\x82", json::parse("\"\\ud83d\\ude42\"", &err)->text());
  for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "\"open", "1 2", "nul"}) {
    EXPECT_FALSE(json::parse(bad, &err)) << bad;
  }
}

}  // namespace
