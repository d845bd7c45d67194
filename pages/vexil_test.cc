// The page interpreter's pieces: file names, numbers, links, images and the
// index-cell form, written to a string.
#include "pages/vexil.h"

#include <map>
#include <sstream>

#include "gtest/gtest.h"

namespace {

using formdecode::run_exit;

class VexilTest : public ::testing::Test {
 protected:
  VexilTest() : pg_(os_) {}

  // What was written since the last call.
  std::string take() {
    std::string s = os_.str();
    os_.str("");
    return s;
  }

  std::ostringstream os_;
  formdecode::page pg_;
};

TEST(VexilNames, ExtensionIsAddedUnlessPresentAnywhere) {
  EXPECT_EQ("home.zoaml", pages::with_extension("home", ".zoaml"));
  EXPECT_EQ("home.zoaml", pages::with_extension("home.zoaml", ".zoaml"));
  EXPECT_EQ("a.zoaml.old", pages::with_extension("a.zoaml.old", ".zoaml"));
  EXPECT_EQ("t.html.tpl", pages::with_extension("t.html", ".tpl"));
  EXPECT_EQ("v.par", pages::with_extension("v", ".par"));
  EXPECT_EQ(".zoaml", pages::with_extension("", ".zoaml"));
  EXPECT_EQ("S-Event_Data/Images/cat.gif", pages::image_url("cat.gif"));
}

TEST(VexilNames, NumericValueIsTheLeadingNumber) {
  struct {
    const char* line;
    double want;
  } cases[] = {
      {"-1", -1}, {"1", 1}, {"1.0", 1}, {"1.5", 1.5}, {"0", 0}, {"abc", 0}, {"", 0},
      {"12abc", 12}, {" -1", -1}, {"-1.0", -1}, {"+1", 1}, {"-", 0}, {".5", 0.5},
      {"1e3", 1}, {"inf", 0}, {"0x10", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, pages::numeric_value(c.line)) << c.line;
}

TEST_F(VexilTest, StructuralLinks) {
  pages::write_link(pg_, "about.zoaml");
  EXPECT_EQ("\n<a href=\"vexil.cgi?zoa_name=about.zoaml\"> link to about </a><p>\n", take());
  pages::write_link(pg_, "x.zoaml.bak");
  EXPECT_EQ("\n<a href=\"vexil.cgi?zoa_name=x.zoaml.bak\"> link to x </a><p>\n", take());
  pages::write_link(pg_, "map.gif");
  EXPECT_EQ("\n<a href=\"S-Event_Data/Images/map.gif\"> the picture of map </a><p>\n", take());
  pages::write_link(pg_, "notes.txt");
  EXPECT_EQ("", take());
  pages::write_link(pg_, "readme");
  EXPECT_EQ("", take());
  // A target cannot break out of its attribute or change the request.
  pages::write_link(pg_, "a\"b&c d.zoaml");
  EXPECT_EQ("\n<a href=\"vexil.cgi?zoa_name=a%22b%26c%20d.zoaml\"> link to a&quot;b&amp;c d "
            "</a><p>\n",
            take());
  pages::write_link(pg_, "<i>\".gif");
  EXPECT_EQ("\n<a href=\"S-Event_Data/Images/&lt;i&gt;&quot;.gif\"> the picture of "
            "&lt;i&gt;&quot; </a><p>\n",
            take());
}

TEST_F(VexilTest, SimpleMedia) {
  pages::write_image(pg_, "sun.gif");
  EXPECT_EQ("<center><img src=\"S-Event_Data/Images/sun.gif\" align=center></center>\n", take());
  pages::not_implemented(pg_, "Temporal Link");
  EXPECT_EQ("Sorry! Temporal Link is not implemented yet.\n<p>", take());
}

const char* const form_head =
    "\n\n<HR>\n<BR>\n<CENTER>\n<H3>Input this Form to send a Message to Trigger an Index "
    "Cell</H3>\n<FORM ACTION=\"orv.cgi\" METHOD=GET>\n<TABLE BORDER=4 CELLPADDING=2, "
    "WIDTH=550>\n";
const char* const form_tail = "</FORM>\n</CENTER>\n<HR>\n<BR>\n";

TEST_F(VexilTest, FormWithFixedValues) {
  pages::ic_form f;
  f.flag = pages::flag_new;
  f.ic_type = "VANTLE";
  f.ic_id_list = "3";
  f.message_type = "MSG_CREATE";
  f.content = "a|b";
  f.cgi = "orv.cgi";
  pages::write_ic_form(pg_, f, "home", "db");
  EXPECT_EQ(std::string(form_head) +
                "<INPUT TYPE=\"hidden\" NAME=\"flag\" VALUE=\"new\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"ic_type\" VALUE=\"VANTLE\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"ic_id_list\" VALUE=\"3\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"MSG_CREATE\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"content\" VALUE=\"a|b\">\n"
                "</TABLE>\n"
                "<INPUT TYPE=\"hidden\" NAME=\"zoa_name\" VALUE=\"home\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"db_access\" VALUE=\"db\">\n"
                "<BR><INPUT TYPE=\"submit\" NAME=\"button\" VALUE=\"TRIGGER IC <VANTLE>\"><BR>\n" +
                form_tail,
            take());
}

TEST_F(VexilTest, FormWithEmptyFieldsAndPrompts) {
  pages::ic_form f;
  f.flag = pages::flag_choose;
  f.flag_prompt = "?Which <b>cell</b>";
  f.ic_type = "?";
  f.message_type = "?Type";
  f.cgi = "orv.cgi";
  pages::write_ic_form(pg_, f, "p", "");
  EXPECT_EQ(std::string(form_head) +
                "<TH ALIGN=CENTER><STRONG>flag</STRONG></TH>\n"
                "<TD ALIGN=CENTER>\n"
                "Which <b>cell</b><BR>\n"
                "<INPUT TYPE=\"radio\" NAME=\"flag\" VALUE=\"old\">Existing IC (Do Not need to "
                "fill ic_type)<BR>\n"
                "<INPUT TYPE=\"radio\" NAME=\"flag\" VALUE=\"new\">New IC (Do Not need to fill "
                "ic_id_list)<BR>\n"
                "</TD><TR>\n"
                "<TH ALIGN=CENTER><STRONG>ic_type</STRONG></TH>\n"
                "<TD ALIGN=CENTER><BR>\n"
                "<INPUT TYPE=\"text\" NAME=\"ic_type\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n"
                "<TH ALIGN=CENTER><STRONG>ic_id_list</STRONG></TH>\n"
                "<TD ALIGN=CENTER><INPUT TYPE=\"text\" NAME=\"ic_id_list\" SIZE=30 "
                "VALUE=\"\"><BR></TD><TR>\n"
                "<TH ALIGN=CENTER><STRONG>message_type</STRONG></TH>\n"
                "<TD ALIGN=CENTER>Type<BR>\n"
                "<INPUT TYPE=\"text\" NAME=\"message_type\" SIZE=30 VALUE=\"\"><BR></TD><TR>\n"
                "<TH ALIGN=CENTER><STRONG>content</STRONG></TH>\n"
                "<TD ALIGN=CENTER><INPUT TYPE=\"text\" NAME=\"content\" SIZE=30 "
                "VALUE=\"\"><BR></TD>\n"
                "</TABLE>\n"
                "<INPUT TYPE=\"hidden\" NAME=\"zoa_name\" VALUE=\"p\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"db_access\" VALUE=\"\">\n"
                "<BR><INPUT TYPE=\"submit\" NAME=\"button\" VALUE=\"TRIGGER IC\"><BR>\n" +
                form_tail,
            take());

  // Flag old, no flag prompt, content prompt: the content cells have no <TR>.
  pages::ic_form g;
  g.flag = pages::flag_old;
  g.content = "?Say";
  g.cgi = "orv.cgi";
  pages::write_ic_form(pg_, g, "p", "");
  std::string out = take();
  EXPECT_NE(std::string::npos, out.find("<INPUT TYPE=\"hidden\" NAME=\"flag\" VALUE=\"old\">\n"
                                        "<TH ALIGN=CENTER><STRONG>ic_type</STRONG></TH>\n"));
  EXPECT_NE(std::string::npos,
            out.find("<TH ALIGN=CENTER><STRONG>content</STRONG></TH>\n<TD ALIGN=CENTER>Say<BR>\n"
                     "<INPUT TYPE=\"text\" NAME=\"content\" SIZE=30 VALUE=\"\"><BR></TD>\n"
                     "</TABLE>\n"));
}

TEST_F(VexilTest, FormValuesAreEscapedInAttributes) {
  pages::ic_form f;
  f.flag = 7;
  f.ic_type = "T\"><script>";
  f.content = "a&b";
  f.cgi = "orv.cgi?x=\"1\"";
  pages::write_ic_form(pg_, f, "n\"m", "d\"b");
  std::string out = take();
  EXPECT_NE(std::string::npos, out.find("<FORM ACTION=\"orv.cgi?x=&quot;1&quot;\" METHOD=GET>\n"));
  EXPECT_NE(std::string::npos, out.find("*** Unexpected flag value = 7\n"));
  EXPECT_NE(std::string::npos,
            out.find("<INPUT TYPE=\"hidden\" NAME=\"ic_type\" VALUE=\"T&quot;&gt;&lt;script&gt;\">"));
  EXPECT_NE(std::string::npos,
            out.find("<INPUT TYPE=\"hidden\" NAME=\"content\" VALUE=\"a&amp;b\">"));
  EXPECT_NE(std::string::npos,
            out.find("<INPUT TYPE=\"hidden\" NAME=\"zoa_name\" VALUE=\"n&quot;m\">"));
  EXPECT_NE(std::string::npos,
            out.find("<INPUT TYPE=\"hidden\" NAME=\"db_access\" VALUE=\"d&quot;b\">"));
  EXPECT_NE(std::string::npos,
            out.find("VALUE=\"TRIGGER IC <T&quot;&gt;&lt;script&gt;>\""));
}

TEST_F(VexilTest, FormWithoutUsableCgiEndsTheRun) {
  pages::ic_form f;
  f.ic_type = "T";
  for (std::optional<std::string> cgi : {std::optional<std::string>(),
                                         std::optional<std::string>("?url")}) {
    f.cgi = cgi;
    try {
      pages::write_ic_form(pg_, f, "p", "");
      ADD_FAILURE() << "the run goes on";
    } catch (const run_exit& e) {
      EXPECT_EQ(0, e.status);
    }
    EXPECT_EQ("\n\nYou should define the cgi for this ZOA.\n", take());
  }
}

// Page files in memory that count how often each is read.
class memory_files : public pages::page_files {
 public:
  std::optional<std::string> read(const std::string& path) override {
    ++reads[path];
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  bool remove(const std::string& path) override { return files.erase(path) == 1; }

  std::map<std::string, std::string> files;  // path, text
  std::map<std::string, int> reads;          // path, times read
};

// A mixed page "leaf" with a parse error and stored values, and a page
// "many" whose template shows it 500 times.
TEST_F(VexilTest, ALinkedPageIsReadAndParsedOncePerRun) {
  memory_files mem;
  mem.files["leaf.zoaml"] =
      "<ZOA> <ZOA_NAME> \"leaf\" </ZOA_NAME> <ZOA_TYPE> mixed </ZOA_TYPE>\n"
      "<ZOA_TEMPLATE> \"leaf\" </ZOA_TEMPLATE> <ZOA_TEMPLATE_INPUT> \"leaf\" "
      "</ZOA_TEMPLATE_INPUT> </ZOA> </ZOA>";
  mem.files["leaf.tpl"] = "[<ZOA_INPBOX_PAR>]";
  mem.files["leaf.par"] = "42\n";
  std::string many_tpl;
  for (int i = 0; i < 500; ++i) many_tpl += "<ZOA_REL>\"r\"</ZOA_REL>";
  mem.files["many.tpl"] = many_tpl;
  mem.files["many.zoaml"] =
      "<ZOA> <ZOA_NAME> \"many\" </ZOA_NAME> <ZOA_TYPE> mixed </ZOA_TYPE>\n"
      "<ZOA_TEMPLATE> \"many\" </ZOA_TEMPLATE>\n"
      "<ZOA_LINKS> name = \"r\", type = spatial, obj = \"leaf\" </ZOA_LINKS> </ZOA>";

  pages::vexil_run run{pg_, mem, {}, 0, {}, {}};
  pages::show_page(run, "many");

  // Each showing writes the parse error; the stored values serve the first.
  const std::string error = "Syntax Error -- Line:1, Column:104 -- syntax error\n";
  std::string want = error + "[42]\n";
  for (int i = 1; i < 500; ++i) want += error + "[]\n";
  want += "\n";
  EXPECT_EQ(want, take());
  EXPECT_EQ(1, mem.reads["leaf.zoaml"]);
  EXPECT_EQ(1, mem.reads["leaf.tpl"]);
  EXPECT_EQ(2, mem.reads["leaf.par"]);  // read, removed, found missing once
  EXPECT_EQ(0u, mem.files.count("leaf.par"));
}

}  // namespace
