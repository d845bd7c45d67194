// orv's hooks for parameter values and cross-site messages.
#include "site/orv_hooks.h"

#include <sys/stat.h>

#include "engine/fg_reader.h"
#include "engine/params.h"
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using engine::ic_record;

class OrvHooksTest : public test_util::in_run_dir {
 protected:
  site::orv_hooks hooks_{out_, "north"};
  engine::engine_state st_{out_, engine::site_identity{"srv1", "north"}, site::orv_message_types,
                           hooks_};

  std::string value(const std::string& name, const ic_record& c, std::int32_t context) {
    return engine::resolve(st_, engine::parse_parameter_list(name).at(0), c, context);
  }
};

TEST_F(OrvHooksTest, Functions) {
  ic_record c;
  engine::fg_function f;
  EXPECT_EQ("5|4", engine::build_content(st_, engine::parse_parameter_list("S5|G0(I3)"), 2, f, c));
  EXPECT_EQ("-1", value("H0(I0)", c, 1));
  EXPECT_EQ("3", value("G0(G0(I1))", c, 1)) << "nested calls";
  c.bindings = {{"X1", "41"}};
  EXPECT_EQ("42", value("G0(X1,S9)", c, -1)) << "only the first argument counts";
  EXPECT_EQ("1", value("G0()", c, 1)) << "no first argument reads as 0";
  EXPECT_EQ("", page());
  EXPECT_EQ("FUNC_NOT_DEFINED!!", value("G7(I1)", c, 1));
  EXPECT_EQ("userdef_f(): function G7 not defined\n", page());
}

TEST_F(OrvHooksTest, VariablesOfTheVantleRecord) {
  ic_record c;
  c.id = 12;
  EXPECT_EQ("north", value("Z1", c, 2));
  EXPECT_EQ("12", value("Z2", c, 3));
  EXPECT_EQ("", page());
  EXPECT_EQ("VAR_NOT_DEFINED!!", value("Y2", c, 2));
  EXPECT_EQ("VAR_NOT_DEFINED!!", value("Y1", c, 1)) << "a cell without a vantle record";
  EXPECT_EQ("VAR_NOT_DEFINED!!", value("Z1", c, 1));
  EXPECT_EQ(
      "userdef_v(): variable Y2 not defined\nuserdef_v(): variable Y1 not defined\n"
      "userdef_v(): variable Z1 not defined\n",
      page());

  auto v = site::new_vantle_record();
  v->doc_id = "d1";
  v->i_am = "a#!";
  v->i_comment = "c#!";
  v->vantle_type = "Profile";
  site::vantle_record& rec = *v;
  c.mm = std::move(v);
  EXPECT_EQ("d1", value("Y1", c, 1));
  EXPECT_EQ("a#!", value("Y2", c, 4));
  EXPECT_EQ("c#!", value("Y7", c, 4));
  EXPECT_EQ("Profile", value("Y8", c, 1));
  EXPECT_EQ("VAR_NOT_DEFINED!!", value("Y1", c, 5)) << "no fusion record yet";
  site::fusion_record fused;
  fused.doc_id = "f1#f2#!";
  fused.vantle_type = "Info_Gathering";
  rec.fusion = fused;
  EXPECT_EQ("f1#f2#!", value("Y1", c, 5));
  EXPECT_EQ("Info_Gathering", value("Y8", c, 5));
  EXPECT_EQ("VAR_NOT_DEFINED!!", value("Y9", c, 1));
  c.bindings = {{"Y2", "bound"}};
  EXPECT_EQ("bound", value("Y2", c, 2)) << "a binding comes first";
}

TEST_F(OrvHooksTest, DatabaseAccessesOnlyThroughBindings) {
  ic_record c;
  EXPECT_EQ("DB_ACCESS_NOT_DEFINED!!", value("DB1", c, -1));
  EXPECT_EQ("userdef_db(): db_access DB1 not defined\n", page());
  c.bindings = {{"DB1", "row"}};
  EXPECT_EQ("row", value("DB1", c, -1));
}

TEST_F(OrvHooksTest, CrossSiteMessagesGoToTheOutbox) {
  ASSERT_EQ(0, ::mkdir("outbox", 0755));
  engine::ext_message m;
  m.kind = engine::KIND_TYPE_NUMBER;
  m.flag = engine::IC_ID;
  m.msg_type = 3;
  m.ic_type = "T";
  m.content = "x|y";
  hooks_.fill_receiver(st_, m, "east", 4);
  EXPECT_EQ("east", m.receiver.orv_id);
  EXPECT_EQ(4, m.receiver.ic_id);
  EXPECT_EQ("T", m.receiver.ic_type);
  hooks_.write_outgoing_message(st_, m, "east");
  hooks_.write_outgoing_message(st_, m, "east");
  std::vector<std::string> files = test_util::list_dir("outbox");
  ASSERT_EQ(2u, files.size()) << "one exchange state numbers the files of the run";
  EXPECT_EQ(0u, files[0].rfind("east", 0));
  std::optional<std::string> text = test_util::read_file("outbox/" + files[0]);
  ASSERT_TRUE(text);
  EXPECT_NE(std::string::npos, text->find("\nx|y")) << *text;
  EXPECT_NE(std::string::npos, text->find("\neast\nT\n4\ns\n")) << "the receiver lines";
}

}  // namespace
