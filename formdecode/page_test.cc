#include "formdecode/page.h"

#include <sstream>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using formdecode::format;

TEST(Format, Conversions) {
  EXPECT_EQ("id: 12", format("id: %d", {12}, false));
  EXPECT_EQ("a b 7 x", format("%s %s %ld %c", {"a", std::string("b"), 7L, 'x'}, false));
  EXPECT_EQ("0.700000", format("%f", {0.7f}, false));
  EXPECT_EQ("100%", format("100%%", {}, false));
  EXPECT_EQ("[  7][ab  ]", format("[%3d][%-4s]", {7, "ab"}, false));
  EXPECT_EQ("n=0", format("n=%d", {}, false)) << "a missing value prints as 0";
  // Plain conversions take a shorter way than those with a width; both
  // give what the printf pattern gives.
  std::string with_zero("a\0b", 3);
  for (const char* plain_and_wide : {"%d|%1d", "%ld|%1ld", "%s|%1s"}) {
    std::string_view f(plain_and_wide);
    std::string_view plain = f.substr(0, f.find('|')), wide = f.substr(f.find('|') + 1);
    for (formdecode::fmt_arg a : {formdecode::fmt_arg(-2147483647 - 1), formdecode::fmt_arg(0),
                                  formdecode::fmt_arg(with_zero), formdecode::fmt_arg("<&>")}) {
      EXPECT_EQ(format(wide, {a}, true), format(plain, {a}, true)) << plain;
    }
  }
  EXPECT_EQ("[0][]", format("[%ld][%s]", {}, false)) << "no values";
}

TEST(Format, EscapesOnlyInsertedText) {
  EXPECT_EQ("<p>a&lt;b&gt; &amp; &quot;q&quot;<p>",
            format("<p>%s<p>", {"a<b> & \"q\""}, true));
  EXPECT_EQ("<p>a<b><p>", format("<p>%s<p>", {"a<b>"}, false));
}

TEST(Page, PrintEscapesValuesWriteKeepsFixedText) {
  std::ostringstream s;
  formdecode::page pg(s);
  pg.write("<b>fixed</b>\n");
  pg.print("Unexpected flag value %s\n", "<script>");
  pg.print_markup("%s", "<br>");
  EXPECT_EQ("<b>fixed</b>\nUnexpected flag value &lt;script&gt;\n<br>", s.str());
}

TEST(Output, TraceLineTailsOnPageOnlyAndTraceIsUnbuffered) {
  test_util::scoped_temp_dir t;
  std::ostringstream s;
  formdecode::output out(s);
  ASSERT_TRUE(out.tr().open(t / "dump_file"));
  out.trace_line("found_ic(): ic_id = %d not found! %s\n", 5, "<x>");
  // The trace file holds the line before anything is flushed or closed.
  EXPECT_EQ("found_ic(): ic_id = 5 not found! <x>\n", test_util::read_file(t / "dump_file"));
  EXPECT_EQ("found_ic(): ic_id = 5 not found! &lt;x&gt;\n <br>", s.str());

  out.set_page_tails(false);
  out.trace_line("plain\n");
  out.both("both %s\n", "&");
  out.finish();
  EXPECT_EQ("found_ic(): ic_id = 5 not found! &lt;x&gt;\n <br>plain\nboth &amp;\n", s.str());
  EXPECT_EQ("found_ic(): ic_id = 5 not found! <x>\nplain\nboth &\n",
            test_util::read_file(t / "dump_file"));
}

TEST(Output, BufferedTraceIsWholeWhenItsGuardEnds) {
  test_util::scoped_temp_dir t;
  std::ostringstream s;
  formdecode::output out(s);
  try {
    formdecode::trace_guard guard(out.tr());
    ASSERT_TRUE(out.tr().open(t / "dump_file", true));
    out.trace_line("first %d\n", 1);
    EXPECT_EQ("", test_util::read_file(t / "dump_file")) << "gathered, not yet written";
    std::string big(100000, 'x');
    out.tr().write(big);
    EXPECT_EQ(100008u, test_util::read_file(t / "dump_file")->size()) << "written in pieces";
    out.both("last\n");
    throw formdecode::run_exit{1};
  } catch (const formdecode::run_exit&) {
  }
  std::optional<std::string> text = test_util::read_file(t / "dump_file");
  ASSERT_TRUE(text);
  EXPECT_EQ(100013u, text->size());
  EXPECT_EQ("last\n", text->substr(text->size() - 5)) << "the run's end wrote the rest";
  EXPECT_FALSE(out.tr().is_open());
}

TEST(Output, TraceOpenTruncatesAndClosedTraceIgnoresWrites) {
  test_util::scoped_temp_dir t;
  test_util::write_file(t / "dump_file", "earlier run\n");
  formdecode::trace tr;
  tr.write("ignored");
  ASSERT_TRUE(tr.open(t / "dump_file"));
  tr.print("%d\n", 1);
  tr.close();
  tr.write("ignored too");
  EXPECT_EQ("1\n", test_util::read_file(t / "dump_file"));
  EXPECT_FALSE(tr.open(t / "missing_dir/dump_file"));
}

}  // namespace
