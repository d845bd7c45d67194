#include "formdecode/formdecode.h"

#include <sstream>

#include "gtest/gtest.h"

namespace {

using formdecode::field_store;
using formdecode::request;
using formdecode::run_exit;

struct decoded {
  field_store fields;
  std::string page;
  int status = -2;  // -2: the decoder returned
};

decoded decode(const request& rq) {
  decoded d;
  std::ostringstream s;
  formdecode::page pg(s);
  try {
    formdecode::decode_form(rq, d.fields, pg);
  } catch (const run_exit& e) {
    d.status = e.status;
  }
  d.page = s.str();
  return d;
}

request get(std::string query) {
  request rq;
  rq.query_string = std::move(query);
  rq.request_method = "GET";
  return rq;
}

std::optional<std::string> field(const decoded& d, const char* name) { return d.fields.get(name); }

TEST(FieldStore, NamesIgnoreCaseAndEmptyMeansAbsent) {
  field_store f;
  f.set("WWW_IC_TYPE", "VANTLE");
  EXPECT_EQ("VANTLE", f.get("www_ic_type"));
  f.set("WWW_ic_type", "");
  EXPECT_FALSE(f.get("WWW_IC_TYPE"));
  EXPECT_EQ(0u, f.size());
}

TEST(UrlUnescape, Table) {
  struct {
    const char* in;
    const char* want;
  } cases[] = {
      {"%41%62+c", "Ab c"},  {"100%", "100%"},   {"%zz%4", "%zz%4"}, {"%4", "%4"},
      {"%%41", "%A"},        {"a%3db", "a=b"},   {"%C3%A9", "\xC3\xA9"}, {"++", "  "},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, formdecode::url_unescape(c.in)) << c.in;
}

TEST(DecodeForm, PairsSplitBeforeDecoding) {
  decoded d = decode(get("a=1&&b=2&c=x%26y&x=1&x=2&x=3"));
  EXPECT_EQ(-2, d.status);
  EXPECT_EQ("1", field(d, "WWW_a"));
  EXPECT_EQ("2", field(d, "WWW_b"));
  EXPECT_EQ("x&y", field(d, "WWW_c"));
  EXPECT_EQ("3#2#1", field(d, "WWW_x"));
  EXPECT_EQ("", d.page);
}

TEST(DecodeForm, EmptyValuesAreAbsentButStillJoin) {
  decoded d = decode(get("flag&other=&x=1&x=&y=&y=2"));
  EXPECT_FALSE(field(d, "WWW_flag"));
  EXPECT_FALSE(field(d, "WWW_other"));
  EXPECT_EQ("#1", field(d, "WWW_x"));
  EXPECT_EQ("2", field(d, "WWW_y"));
}

// Each repetition costs its own value only: 200,000 repetitions make a
// joined value of over a megabyte, which the old copy-the-whole-value join
// took minutes to build (the speed is measured by bench/scale_bench).
TEST(DecodeForm, ManyRepeatedFieldsJoinNewestFirst) {
  const int count = 200000;
  std::string query = "flag=orv", want;
  for (int i = 0; i < count; ++i) query += "&x=" + std::to_string(i);
  for (int i = count - 1; i >= 0; --i) want += std::to_string(i) + (i > 0 ? "#" : "");
  decoded d = decode(get(query));
  EXPECT_EQ(-2, d.status);
  std::optional<std::string> x = field(d, "WWW_X");
  ASSERT_TRUE(x);
  EXPECT_EQ(want.size(), x->size());
  EXPECT_TRUE(*x == want) << "joined newest first";
  EXPECT_EQ("orv", field(d, "WWW_flag"));
}

TEST(DecodeForm, NamesAndValues) {
  decoded d = decode(get("a%3Db=c&img.x=10&_a.b=1&v=100%25&w=%zz%4&z=x%00y&n=1=2"));
  EXPECT_EQ("b=c", field(d, "WWW_a"));
  EXPECT_EQ("10", field(d, "WWW_img_x"));
  EXPECT_EQ("1", field(d, "WWW_a_b"));
  EXPECT_EQ("100%", field(d, "WWW_v"));
  EXPECT_EQ("%zz%4", field(d, "WWW_w"));
  EXPECT_EQ("x", field(d, "WWW_z")) << "a decoded zero byte ends the text";
  EXPECT_EQ("1=2", field(d, "WWW_n"));
}

TEST(DecodeForm, CleanedFieldsTidyWhiteSpaceAndLineEnds) {
  decoded d = decode(get("_note=%20%20one%0D%0Atwo%0Dthree%20%0D&note2=%20keep%20&_t=%09%0D"));
  EXPECT_EQ("one\ntwo\nthree", field(d, "WWW_note"));
  EXPECT_EQ(" keep ", field(d, "WWW_note2"));
  EXPECT_FALSE(field(d, "WWW_t")) << "a cleaned value of white space only is empty";
}

TEST(DecodeForm, EmptyQueryIsAQueryAndMissingQueryIsNot) {
  decoded empty = decode(get(""));
  EXPECT_EQ(-2, empty.status);
  EXPECT_EQ(0u, empty.fields.size());

  request none;
  none.request_method = "GET";
  decoded d = decode(none);
  EXPECT_EQ(1, d.status);
  EXPECT_EQ("<p>The 'formpump' program couldn't find a query to\nprocess.\n\n", d.page);
}

request post(const std::string& body, std::istringstream& in) {
  request rq;
  rq.request_method = "POST";
  rq.content_type = "application/x-www-form-urlencoded";
  rq.content_length = std::to_string(body.size());
  in.str(body);
  rq.body = &in;
  return rq;
}

TEST(PostRead, BodyComesAfterQuery) {
  std::istringstream in;
  request rq = post("x=p&y=2", in);
  rq.query_string = "x=q";
  decoded d = decode(rq);
  EXPECT_EQ(-2, d.status);
  EXPECT_EQ("p#q", field(d, "WWW_x"));
  EXPECT_EQ("2", field(d, "WWW_y"));
}

TEST(PostRead, ShortBodyIsUsedAndLongerBodyIsCut) {
  std::istringstream in;
  request rq = post("a=1&b=2", in);
  rq.content_length = "100";
  decoded d = decode(rq);
  EXPECT_EQ(-2, d.status);
  EXPECT_EQ("2", field(d, "WWW_b"));

  std::istringstream in2;
  request cut = post("a=12345", in2);
  cut.content_length = "4";
  decoded d2 = decode(cut);
  EXPECT_EQ("12", field(d2, "WWW_a"));
}

TEST(PostRead, Refusals) {
  const std::string header = "Content-type: text/html\n\n";
  std::istringstream in;
  request charset = post("a=1", in);
  charset.content_type = "application/x-www-form-urlencoded; charset=UTF-8";
  decoded d = decode(charset);
  EXPECT_EQ(1, d.status);
  EXPECT_EQ(header + "<p>No content type was passed to formpump.</body></html>\n", d.page);

  request no_type = post("a=1", in);
  no_type.content_type.reset();
  EXPECT_EQ(d.page, decode(no_type).page);

  request no_length = post("a=1", in);
  no_length.content_length.reset();
  decoded l = decode(no_length);
  EXPECT_EQ(1, l.status);
  EXPECT_EQ(header +
                "<p>The server did not tell formpump how long the request\nwas.</body></html>\n",
            l.page);
}

TEST(PostRead, NegativeOrHugeLengthGivesSystemErrorPage) {
  std::istringstream in;
  request neg = post("a=1", in);
  neg.content_length = "-5";
  decoded d = decode(neg);
  EXPECT_EQ(1, d.status);
  EXPECT_EQ(
      "Content-type: text/html\n\n"
      "<p>The following error was encountered while processing\n"
      "your query.\n"
      "<blockquote>\n"
      "postread: Invalid argument\n"
      "</blockquote>\n"
      "<p>Please try again later.\n"
      "</body></html>\n",
      d.page);

  request huge = post("a=1", in);
  huge.content_length = "99999999999999999999999";
  decoded h = decode(huge);
  EXPECT_EQ(1, h.status);
  EXPECT_NE(std::string::npos, h.page.find("postread: Cannot allocate memory\n"));
  EXPECT_FALSE(field(h, "WWW_a"));
}

TEST(PostRead, LengthTakesLeadingNumberAndEmptyBodyStoresNothing) {
  std::istringstream in;
  request rq = post("a=1", in);
  rq.content_length = "3 bytes";
  EXPECT_EQ("1", field(decode(rq), "WWW_a"));
  rq.content_length = "none";
  decoded d = decode(rq);
  EXPECT_EQ(-2, d.status);
  EXPECT_EQ(0u, d.fields.size());
}

}  // namespace
