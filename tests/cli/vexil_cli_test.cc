// Black-box tests of vexil: the built program run as a web server runs it,
// with its pages in a fresh html/zoaml, the page and exit status checked.
#include <sys/stat.h>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::read_file;
using test_util::run_result;
using test_util::write_file;

const std::string& header = test_util::cgi_header;

// The description of a form with every value fixed.
const char* const fixed_form_zoa =
    "<ZOA_IC> flag = new, ic_type = \"T\", ic_id_list = \"1\", message_type = \"M\",\n"
    "         content = \"c\", cgi = \"orv.cgi\" </ZOA_IC>\n";

// What that form writes for a page name and database access.
std::string fixed_form(const std::string& name, const std::string& db = "") {
  return "\n\n<HR>\n<BR>\n<CENTER>\n"
         "<H3>Input this Form to send a Message to Trigger an Index Cell</H3>\n"
         "<FORM ACTION=\"orv.cgi\" METHOD=GET>\n"
         "<TABLE BORDER=4 CELLPADDING=2, WIDTH=550>\n"
         "<INPUT TYPE=\"hidden\" NAME=\"flag\" VALUE=\"new\">\n"
         "<INPUT TYPE=\"hidden\" NAME=\"ic_type\" VALUE=\"T\">\n"
         "<INPUT TYPE=\"hidden\" NAME=\"ic_id_list\" VALUE=\"1\">\n"
         "<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"M\">\n"
         "<INPUT TYPE=\"hidden\" NAME=\"content\" VALUE=\"c\">\n"
         "</TABLE>\n"
         "<INPUT TYPE=\"hidden\" NAME=\"zoa_name\" VALUE=\"" + name + "\">\n"
         "<INPUT TYPE=\"hidden\" NAME=\"db_access\" VALUE=\"" + db + "\">\n"
         "<BR><INPUT TYPE=\"submit\" NAME=\"button\" VALUE=\"TRIGGER IC <T>\"><BR>\n"
         "</FORM>\n</CENTER>\n<HR>\n<BR>\n";
}

// A mixed page named `name` with template `tpl` and `more` items.
std::string mixed_page(const std::string& name, const std::string& tpl,
                       const std::string& more = "") {
  return "<ZOA>\n  <ZOA_NAME> \"" + name + "\" </ZOA_NAME>\n  <ZOA_TYPE> mixed </ZOA_TYPE>\n"
         "  <ZOA_TEMPLATE> \"" + tpl + "\" </ZOA_TEMPLATE>\n" + more + "</ZOA>\n";
}

class VexilCli : public ::testing::Test {
 protected:
  VexilCli() {
    ::mkdir((site_ / "html").c_str(), 0755);
    ::mkdir((site_ / "html/zoaml").c_str(), 0755);
  }

  std::string path(const std::string& rel) { return site_ / ("html/zoaml/" + rel); }
  void file(const std::string& rel, const std::string& text) { write_file(path(rel), text); }

  run_result get(const std::string& query) {
    return test_util::run_program(test_util::program_path("vexil"), site_.path(),
                                  {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
  }

  // The page of a request that must end with status 0.
  std::string page(const std::string& query) {
    run_result r = get(query);
    EXPECT_EQ(0, r.status) << query;
    EXPECT_EQ("", r.err) << query;
    return r.out;
  }

  test_util::scoped_temp_dir site_;
};

TEST_F(VexilCli, RequestsWithoutAPage) {
  EXPECT_EQ(header + "Lack of zoa name.\n", page(""));
  EXPECT_EQ(header + "Lack of zoa name.\n", page("zoa_name="));
  run_result r = test_util::run_program(test_util::program_path("vexil"), site_.path(),
                                        {{"REQUEST_METHOD", "GET"}});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(header + "<p>The 'formpump' program couldn't find a query to\nprocess.\n\n", r.out);
}

TEST_F(VexilCli, MissingPagesAndNamesOutsideThePageDirectory) {
  EXPECT_EQ(header + "The file nope.zoaml doesn't exist.\n", page("zoa_name=nope"));
  // Pages that exist, but not in html/zoaml, are answered the same way.
  write_file(site_ / "html/secret.zoaml", "<ZOA><ZOA_NAME>\"s\"</ZOA_NAME></ZOA>");
  file("sub/in.zoaml", "<ZOA><ZOA_NAME>\"s\"</ZOA_NAME><ZOA_TYPE>image</ZOA_TYPE>"
                       "<ZOA_TEMPLATE>\"x\"</ZOA_TEMPLATE></ZOA>");
  EXPECT_EQ(header + "The file ../secret.zoaml doesn't exist.\n", page("zoa_name=../secret"));
  EXPECT_EQ(header + "The file sub/in.zoaml doesn't exist.\n", page("zoa_name=sub/in"));
  EXPECT_EQ(header + "The file sub/..zoaml doesn't exist.\n", page("zoa_name=sub%2F."));
  // The requested name is escaped where the page echoes it.
  EXPECT_EQ(header + "The file &lt;b&gt;&quot;.zoaml doesn't exist.\n",
            page("zoa_name=%3Cb%3E%22"));
}

TEST_F(VexilCli, NameFormAndNothingElse) {
  file("bare.zoaml", "<ZOA><ZOA_NAME>\"bare\"</ZOA_NAME></ZOA>\n");
  EXPECT_EQ(header, page("zoa_name=bare"));
  file("form.zoaml", std::string("<ZOA>\n<ZOA_NAME>\"the form\"</ZOA_NAME>\n") + fixed_form_zoa +
                         "<ZOA_DB>\"db1\"</ZOA_DB>\n</ZOA>\n");
  EXPECT_EQ(header + "<HTML>\n" + fixed_form("the form", "db1") + "</HTML>\n",
            page("zoa_name=form"));
  // Without a name the description is not used.
  file("anon.zoaml", std::string("<ZOA>") + fixed_form_zoa + "</ZOA>");
  EXPECT_EQ(header + "You should define ZOA name.\n", page("zoa_name=anon"));
}

TEST_F(VexilCli, ImageTextAndOtherMedia) {
  file("pic.zoaml", "<ZOA><ZOA_NAME>\"p\"</ZOA_NAME><ZOA_TYPE>image</ZOA_TYPE>"
                    "<ZOA_TEMPLATE>\"sun.gif\"</ZOA_TEMPLATE></ZOA>");
  EXPECT_EQ(header + "<center><img src=\"S-Event_Data/Images/sun.gif\" align=center></center>\n",
            page("zoa_name=pic"));

  // Text files are copied verbatim, Windows line ends read as line feeds.
  file("doc.zoaml", "<ZOA>\r\n<ZOA_NAME>\"d\"</ZOA_NAME>\r\n<ZOA_TYPE>text</ZOA_TYPE>\r\n"
                    "<ZOA_TEMPLATE>\"doc.txt\"</ZOA_TEMPLATE>\r\n</ZOA>\r\n");
  file("doc.txt", "line <one>\r\nline \"two\"\n\nno end");
  EXPECT_EQ(header + "line <one>\nline \"two\"\n\nno end", page("zoa_name=doc"));
  file("gone.zoaml", "<ZOA><ZOA_NAME>\"g\"</ZOA_NAME><ZOA_TYPE>text</ZOA_TYPE>"
                     "<ZOA_TEMPLATE>\"gone.txt\"</ZOA_TEMPLATE></ZOA>");
  EXPECT_EQ(header + "The file gone.txt doesn't exist.\n", page("zoa_name=gone"));

  for (const char* media : {"audio", "motion_graph", "video"}) {
    file("av.zoaml", std::string("<ZOA><ZOA_NAME>\"a\"</ZOA_NAME><ZOA_TYPE>") + media +
                         "</ZOA_TYPE><ZOA_TEMPLATE>\"a.wav\"</ZOA_TEMPLATE></ZOA>");
    EXPECT_EQ(header + "Sorry! Types except image & text is not implemented yet.\n<p>",
              page("zoa_name=av"))
        << media;
  }
  // A media type without a template: the form, if any, or nothing.
  file("half.zoaml", "<ZOA><ZOA_NAME>\"h\"</ZOA_NAME><ZOA_TYPE>image</ZOA_TYPE></ZOA>");
  EXPECT_EQ(header, page("zoa_name=half"));
}

TEST_F(VexilCli, ZoamlAnywhereInTheNameKeepsTheName) {
  file("a.zoaml.v2", "<ZOA><ZOA_NAME>\"v2\"</ZOA_NAME><ZOA_TYPE>image</ZOA_TYPE>"
                     "<ZOA_TEMPLATE>\"v2.gif\"</ZOA_TEMPLATE></ZOA>");
  file("a.zoaml", "<ZOA><ZOA_NAME>\"a\"</ZOA_NAME><ZOA_TYPE>image</ZOA_TYPE>"
                  "<ZOA_TEMPLATE>\"a.gif\"</ZOA_TEMPLATE></ZOA>");
  EXPECT_NE(std::string::npos, page("zoa_name=a.zoaml.v2").find("Images/v2.gif"));
  EXPECT_NE(std::string::npos, page("zoa_name=a.zoaml").find("Images/a.gif"));
  EXPECT_NE(std::string::npos, page("zoa_name=a").find("Images/a.gif"));
}

TEST_F(VexilCli, SyntaxErrorKeepsWhatWasStored) {
  // The error comes after name, type and template: the page is still shown.
  file("err.zoaml",
       "<ZOA>\n<ZOA_NAME> \"e\" </ZOA_NAME>\n<ZOA_TYPE> image </ZOA_TYPE>\n"
       "<ZOA_TEMPLATE> \"e.gif\" </ZOA_TEMPLATE>\n<ZOA_SENSI> never </ZOA_SENSI>\n</ZOA>\n");
  EXPECT_EQ(header + "Syntax Error -- Line:4, Column:14 -- syntax error\n"
                     "<center><img src=\"S-Event_Data/Images/e.gif\" align=center></center>\n",
            page("zoa_name=err"));
}

TEST_F(VexilCli, TemplateGetsTheFormAtItsEnd) {
  file("m.zoaml", mixed_page("m page", "m", std::string(fixed_form_zoa) +
                                                "<ZOA_DB> \"q\" </ZOA_DB>\n"));
  file("m.tpl", "<h1>Title</h1>\n<p>a \"b\"\tc</p>\n<ZOA_DB_HERE>\nend\n");
  EXPECT_EQ(header +
                "<h1>Title</h1>\n<p>a \"b\"\tc</p>\n"
                "<INPUT TYPE=\"hidden\" NAME=\"db_access\" VALUE=\"q\">\n"
                "\nend\n"
                "<HTML>\n" + fixed_form("m page", "q") + "</HTML>\n",
            page("zoa_name=m"));
}

TEST_F(VexilCli, FormTagPlacesTheFormOnce) {
  file("m.zoaml", mixed_page("m", "m.tpl", fixed_form_zoa));
  file("m.tpl", "A<ZOA_IC_INPUT>B<ZOA_IC_INPUT>C");
  EXPECT_EQ(header + "A" + fixed_form("m") + "BWarning: Tag <ZOA_IC_INPUT> used twice!\nC\n",
            page("zoa_name=m"));
  // A page without a form: the tag writes nothing.
  file("n.zoaml", mixed_page("n", "m.tpl"));
  EXPECT_EQ(header + "ABWarning: Tag <ZOA_IC_INPUT> used twice!\nC\n", page("zoa_name=n"));
}

TEST_F(VexilCli, FormWithoutCgiEndsThePageWhereItStands) {
  file("m.zoaml", mixed_page("m", "m", "<ZOA_IC> ic_type = \"T\" </ZOA_IC>\n"
                                       "<ZOA_TEMPLATE_INPUT> \"m\" </ZOA_TEMPLATE_INPUT>\n"));
  file("m.tpl", "before<ZOA_IC_INPUT>after");
  file("m.par", "1\n");
  EXPECT_EQ(header + "before\n\nYou should define the cgi for this ZOA.\n", page("zoa_name=m"));
  EXPECT_TRUE(read_file(path("m.par"))) << "the run ended before the template was done";
}

TEST_F(VexilCli, ParameterFileIsReadOnce) {
  file("p.zoaml", mixed_page("p", "p", "<ZOA_TEMPLATE_INPUT> \"p\" </ZOA_TEMPLATE_INPUT>\n"));
  file("p.tpl",
       "[<ZOA_INPBOX_PAR>][<ZOA_INPBOX_PAR>][<ZOA_INPBOX_PAR>][<ZOA_INPBOX_PAR>]\n"
       "[<ZOA_RADIO_PAR>][<ZOA_RADIO_PAR>][<ZOA_CHKBOX_PAR>][<ZOA_CHKBOX_PAR>]"
       "[<ZOA_SKIP_PAR>][<ZOA_INPBOX_PAR>][<ZOA_CHKBOX_PAR>]\n");
  file("p.par", "-1\n0\nhello \"you\"\n12abc\n1\n1.0\n2\nyes\nskipped\nlast\r\n");
  EXPECT_EQ(header +
                "[][0][hello &quot;you&quot;][12abc]\n"
                "[CHECKED][CHECKED][][][][last][]\n",
            page("zoa_name=p"));
  EXPECT_FALSE(read_file(path("p.par")));
  // The next showing has no stored values.
  EXPECT_EQ(header + "[][][][]\n[][][][][][][]\n", page("zoa_name=p"));
  // A parameter file named with its extension, or missing, works too.
  file("q.zoaml", mixed_page("q", "p", "<ZOA_TEMPLATE_INPUT> \"q.par\" </ZOA_TEMPLATE_INPUT>\n"));
  file("q.par", "x\n");
  EXPECT_EQ(header + "[x][][][]\n[][][][][][][]\n", page("zoa_name=q"));
  EXPECT_FALSE(read_file(path("q.par")));
}

TEST_F(VexilCli, Relations) {
  file("r.zoaml", mixed_page("r", "r",
                             "<ZOA_LINKS> name = \"two\", type = structural, obj = \"one.zoaml\""
                             " </ZOA_LINKS>\n"
                             "<ZOA_LINKS> name = \"two\", type = structural, obj = \"pic.gif\""
                             " </ZOA_LINKS>\n"
                             "<ZOA_LINKS> name = \"t\", type = temporal, obj = \"x\" </ZOA_LINKS>\n"
                             "<ZOA_LINKS> name = \"s\", type = spatial, obj = \"inner\""
                             " </ZOA_LINKS>\n"
                             "<ZOA_LINKS> name = \"odd\", obj = \"x.zoaml\" </ZOA_LINKS>\n"
                             "<ZOA_LINKS> name = \"txt\", type = structural, obj = \"a.txt\""
                             " </ZOA_LINKS>\n"));
  file("inner.zoaml", "<ZOA><ZOA_NAME>\"in\"</ZOA_NAME><ZOA_TYPE>text</ZOA_TYPE>"
                      "<ZOA_TEMPLATE>\"inner.txt\"</ZOA_TEMPLATE></ZOA>");
  file("inner.txt", "INNER\n");
  file("r.tpl", "1<ZOA_REL> \"none\" </ZOA_REL>2<ZOA_REL>\"two\"</ZOA_REL>3"
                "<ZOA_REL>\"t\"</ZOA_REL>4<ZOA_REL>\"s\"</ZOA_REL>5"
                "<ZOA_REL>\"odd\" \"txt\"</ZOA_REL>6");
  EXPECT_EQ(header + "12"
                     "\n<a href=\"S-Event_Data/Images/pic.gif\"> the picture of pic </a><p>\n"
                     "\n<a href=\"vexil.cgi?zoa_name=one.zoaml\"> link to one </a><p>\n"
                     "3Sorry! Temporal Link is not implemented yet.\n<p>"
                     "4INNER\n5" "6\n",
            page("zoa_name=r"));
}

TEST_F(VexilCli, TextInsideARelationTag) {
  file("r.zoaml", mixed_page("r", "r"));
  // Blanks and tabs vanish, other characters stay; keywords are tokens of
  // their own; only </ZOA_REL> or </ZOA> brings back plain text.
  file("r.tpl", "<ZOA_REL> a b\tc = </ZOA_REL> a b\n<ZOA_REL>x</ZOA>y z");
  EXPECT_EQ(header + "abcr.tpl: 273: Invalid syntax in template.\n a bxr.tpl: 258: Invalid "
                     "syntax in template.\ny z\n",
            page("zoa_name=r"));
}

TEST_F(VexilCli, MisplacedRelationTagsAndStrings) {
  file("r.zoaml", mixed_page("r", "r"));
  file("r.tpl", "a</ZOA_REL>\nb<ZOA_REL><ZOA_REL>\"x\"</ZOA_REL>\n<ZOA>\"s\"</ZOA>c");
  EXPECT_EQ(header +
                "aSyntax Error -- Line:0, Column:12 -- /ZOA_REL\n"
                "\nbSyntax Error -- Line:1, Column:20 -- ZOA_REL\n"
                "r.tpl: 257: Invalid syntax in template.\n"
                "Syntax Error -- Line:2, Column:10 -- error position for ZOA REL name\n"
                "r.tpl: 258: Invalid syntax in template.\n"
                "c\n",
            page("zoa_name=r"));
}

TEST_F(VexilCli, OtherTagsInATemplate) {
  file("r.zoaml", mixed_page("r", "r"));
  file("r.tpl", "<ZOA_NAME>x<ZOA_SENSI>");
  EXPECT_EQ(header + "r.tpl: 259: Invalid syntax in template.\nxr.tpl: 282: Invalid syntax in "
                     "template.\n\n",
            page("zoa_name=r"));
  file("t.zoaml", mixed_page("t", "missing"));
  EXPECT_EQ(header + "The file missing.tpl doesn't exist.\n", page("zoa_name=t"));
}

TEST_F(VexilCli, PageThatIncludesItselfIsShownOnce) {
  file("a.zoaml", mixed_page("a", "a",
                             "<ZOA_LINKS> name = \"b\", type = spatial, obj = \"b\" </ZOA_LINKS>\n"));
  file("a.tpl", "A[<ZOA_REL>\"b\"</ZOA_REL>]");
  file("b.zoaml", mixed_page("b", "b",
                             "<ZOA_LINKS> name = \"a\", type = spatial, obj = \"a.zoaml\""
                             " </ZOA_LINKS>\n"
                             "<ZOA_LINKS> name = \"b\", type = spatial, obj = \"b\" </ZOA_LINKS>\n"));
  file("b.tpl", "B(<ZOA_REL>\"a\" \"b\"</ZOA_REL>)");
  EXPECT_EQ(header + "A[B(<p>The page a.zoaml includes itself; it is shown only once.<p>\n"
                     "<p>The page b.zoaml includes itself; it is shown only once.<p>\n"
                     ")\n]\n",
            page("zoa_name=a"));
  // The same page twice side by side is no cycle.
  file("c.zoaml", mixed_page("c", "c",
                             "<ZOA_LINKS> name = \"i\", type = spatial, obj = \"img\" </ZOA_LINKS>\n"));
  file("img.zoaml", "<ZOA><ZOA_NAME>\"i\"</ZOA_NAME><ZOA_TYPE>image</ZOA_TYPE>"
                    "<ZOA_TEMPLATE>\"i.gif\"</ZOA_TEMPLATE></ZOA>");
  file("c.tpl", "<ZOA_REL>\"i\" \"i\"</ZOA_REL>");
  std::string img = "<center><img src=\"S-Event_Data/Images/i.gif\" align=center></center>\n";
  EXPECT_EQ(header + img + img + "\n", page("zoa_name=c"));
}

// Twelve pages that each show the next twice would make 4,094 showings;
// a run shows at most 1000 linked pages and says so once.
TEST_F(VexilCli, ThePagesShownByOneRunAreBounded) {
  for (int i = 0; i < 12; ++i) {
    std::string n = "p" + std::to_string(i);
    file(n + ".zoaml", mixed_page(n, n, "<ZOA_LINKS> name = \"r\", type = spatial, obj = \"p" +
                                            std::to_string(i + 1) + "\" </ZOA_LINKS>\n"));
    file(n + ".tpl", i == 11 ? "x" : "(<ZOA_REL>\"r\" \"r\"</ZOA_REL>)");
  }
  std::string out = page("zoa_name=p0");
  const std::string bound =
      "<p>The page p11.zoaml is left out: a page shows at most 1000 other pages.<p>\n";
  size_t at = out.find(bound);
  ASSERT_NE(std::string::npos, at) << out.size() << " bytes without the bound";
  EXPECT_EQ(std::string::npos, out.find("<p>", at + bound.size())) << "written once";
  EXPECT_LT(out.size(), 20000u);
  EXPECT_EQ('\n', out.back()) << "the outer templates are written to their end";
}

TEST_F(VexilCli, NestedPageLeavesTheOuterScanAlone) {
  // The inner description ends inside an open string: a syntax error, but
  // its name, type and template were stored. The inner template starts in
  // TEXT mode all the same, and the outer template goes on in TEXT mode with
  // its own line and column counters.
  file("outer.zoaml", mixed_page("outer", "outer",
                                 "<ZOA_LINKS> name = \"in\", type = spatial, obj = \"inner\""
                                 " </ZOA_LINKS>\n"));
  file("inner.zoaml", "<ZOA>\n<ZOA_NAME>\"inner\"</ZOA_NAME>\n<ZOA_TYPE>mixed</ZOA_TYPE>\n"
                      "<ZOA_TEMPLATE>\"inner\"</ZOA_TEMPLATE>\n<ZOA_DB> \"open");
  file("inner.tpl", "i n\n\nner\n");
  file("outer.tpl", "x y\n<ZOA_REL>\n\"in\"</ZOA_REL> z \"q\"\n w</ZOA_REL>");
  EXPECT_EQ(header + "x y"
                     "Syntax Error -- Line:4, Column:15 -- syntax error\n"
                     "i n\n\nner\n"
                     " z \"q\"\n w"
                     "Syntax Error -- Line:3, Column:13 -- /ZOA_REL\n"
                     "\n",
            page("zoa_name=outer"));
}

TEST_F(VexilCli, LongTokenEndsTheTemplate) {
  file("l.zoaml", mixed_page("l", "l", fixed_form_zoa));
  file("l.tpl", "a<ZOA_REL>\"" + std::string(600, 'x') + "\"</ZOA_REL>b");
  EXPECT_EQ(header + "aSyntax Error -- Line:0, Column:12 -- token too long\n\n<HTML>\n" +
                fixed_form("l") + "</HTML>\n",
            page("zoa_name=l"));
  file("d.zoaml", "<ZOA><ZOA_NAME>\"" + std::string(600, 'x') + "\"</ZOA_NAME></ZOA>");
  EXPECT_EQ(header + "Syntax Error -- Line:0, Column:17 -- token too long\n"
                     "You should define ZOA name.\n",
            page("zoa_name=d"));
}

TEST_F(VexilCli, CarriageReturnsBeforeLineFeedsAreDropped) {
  file("w.zoaml", "\r\n<ZOA>\r\n<ZOA_NAME>\"w\"</ZOA_NAME><ZOA_TYPE>mixed</ZOA_TYPE>\r\n"
                  "<ZOA_TEMPLATE>\"w\"</ZOA_TEMPLATE>\r\n</ZOA>\r\n");
  file("w.tpl", "a\r\nb\rc\r\n</ZOA_REL>");
  EXPECT_EQ(header + "a\nb\rcSyntax Error -- Line:2, Column:11 -- /ZOA_REL\n\n",
            page("zoa_name=w"));
}

// The sample pages shipped with the sample site.
class VexilSamples : public VexilCli {
 protected:
  VexilSamples() {
    for (const char* name :
         {"orv_manager.zoaml", "orv_manager.tpl", "about.zoaml", "about.txt", "answer.zoaml",
          "answer.txt", "answer_refused.zoaml", "answer_refused.txt", "answer_view.zoaml",
          "answer_view.js", "auth_note.zoaml", "auth_note.txt", "site_map.zoaml"}) {
      std::optional<std::string> text =
          read_file(std::string(SAMPLES_DIR) + "/html/zoaml/" + name);
      EXPECT_TRUE(text) << name;
      file(name, text.value_or(""));
    }
  }

  // A sample page shown without any error text.
  std::string clean_page(const std::string& name) {
    std::string out = page("zoa_name=" + name);
    for (const char* bad : {"Syntax Error", "Invalid syntax", "doesn't exist", "Warning",
                            "You should define", "Sorry!"}) {
      EXPECT_EQ(std::string::npos, out.find(bad)) << name << ": " << bad << "\n" << out;
    }
    return out;
  }
};

TEST_F(VexilSamples, ManagerPageHoldsAFormForEachTask) {
  std::string out = clean_page("orv_manager");
  auto has = [&](const std::string& text) {
    EXPECT_NE(std::string::npos, out.find(text)) << text;
  };
  // A UTF-8 page whose forms that change something send POST in UTF-8 to
  // the answer frame; the layout puts the site's ids in.
  has("<META CHARSET=\"utf-8\">");
  has("<FORM ACTION=\"orv.cgi\" METHOD=POST ACCEPT-CHARSET=\"UTF-8\" TARGET=\"answer\">");
  has("<IFRAME NAME=\"answer\" TITLE=\"Answer of @ORV_ID@\"");
  has("<TITLE>Virtual site manager of @ORV_ID@</TITLE>");
  has("<CODE>ORV_ID|@ORV_ID@</CODE> and <CODE>SERVER_ID|@SERVER_ID@</CODE>");
  // Create a vantle, with sample values that the page itself holds.
  has("<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"MSG_CREATE\">");
  has("<INPUT TYPE=\"hidden\" NAME=\"ic_par_num\" VALUE=\"9\">");
  has("NAME=\"doc_id\" SIZE=40 VALUE=\"doc-001\">");
  has("NAME=\"i_behave\" SIZE=40 VALUE=\"!\">");
  has("NAME=\"i_comment\" SIZE=40 VALUE=\"Notes on lenses and mirrors#!\">");
  has("VALUE=\"Archives\" CHECKED>");
  has("VALUE=\"Profile\">");
  // Query, list, show, results, configuration, pick-up and send.
  has("<INPUT TYPE=\"hidden\" NAME=\"vantle_type\" VALUE=\"Info_Gathering\">");
  has("<INPUT TYPE=\"hidden\" NAME=\"ic_id_list\" VALUE=\"-1\">\n"
      "<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"MSG_SHOW_ALL\">");
  has("<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"MSG_SHOW_VANTLE_RESULT\">");
  has("<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"MSG_SHOW_CONFIG\">");
  has("<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"MSG_UPDATE_CONFIG\">");
  has("<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"SYS_PICK_UP_MSG\">");
  has("<INPUT TYPE=\"hidden\" NAME=\"message_type\" VALUE=\"SYS_SEND_MSG\">");
  // The page's own form, and the links to the other two pages.
  has("<INPUT TYPE=\"hidden\" NAME=\"zoa_name\" VALUE=\"orv_manager\">");
  // Links that say where they lead, the map in place, and the script that
  // shows the answers, copied in from its own file.
  has("<A HREF=\"vexil.cgi?zoa_name=about.zoaml\" TARGET=\"_top\">About this site: vantles, "
      "keywords and settings</A>");
  has("<A HREF=\"vexil.cgi?zoa_name=site_map.zoaml\" TARGET=\"_top\">The map of the sites</A>");
  has("<IMG SRC=\"S-Event_Data/Images/site_map.gif\" ALT=\"Map of the sites");
  has("<script>" + *read_file(path("answer_view.js")));
  EXPECT_EQ(std::string::npos, out.find("link to")) << "a link that does not say where it leads";
  // The second showing is the first one again.
  EXPECT_EQ(out, clean_page("orv_manager"));
}

TEST_F(VexilSamples, TextAndImagePages) {
  std::string about = clean_page("about.zoaml");
  EXPECT_EQ(header + *read_file(path("about.txt")), about);
  EXPECT_NE(std::string::npos, about.find("vexil.cgi?zoa_name=orv_manager.zoaml"));
  EXPECT_NE(std::string::npos, about.find("vexil.cgi?zoa_name=site_map.zoaml"));
  EXPECT_EQ(header + "<center><img src=\"S-Event_Data/Images/site_map.gif\" align=center>"
                     "</center>\n",
            clean_page("site_map"));
  EXPECT_EQ(header + *read_file(path("answer.txt")), clean_page("answer"));
  EXPECT_EQ(header + *read_file(path("answer_refused.txt")), clean_page("answer_refused"));
}

}  // namespace
