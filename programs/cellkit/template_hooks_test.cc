// The template hooks: their texts on the page and their answers.
#include "programs/cellkit/template_hooks.h"

#include "engine/model.h"
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::exit_status_of;

class TemplateHooks : public test_util::in_run_dir {
 protected:
  cellkit::template_hooks hooks;
  engine::engine_state st{out_, engine::site_identity{}, cellkit::message_types, hooks};
  engine::ic_record cell;
  engine::fg_function f;
  std::vector<engine::parameter> none;
};

TEST_F(TemplateHooks, ClickActions) {
  EXPECT_EQ(0, hooks.do_actions(st, 0, none, f, cell));
  EXPECT_EQ("Single click!", page()) << "no line end";
  hooks.do_actions(st, 1, none, f, cell);
  EXPECT_EQ("Single click!double click\n", page());
  EXPECT_EQ(0, exit_status_of([&] { hooks.do_actions(st, 2, none, f, cell); }));
  EXPECT_EQ("Single click!double click\ndo_actions: Unknown action number 2\n", page());
}

TEST_F(TemplateHooks, EveryPredicateEndsTheRun) {
  EXPECT_EQ(0, exit_status_of([&] { hooks.do_predicate(st, 0, none, f, cell); }));
  EXPECT_EQ("do_predicate: Unknown predicate number 0\n", page());
}

TEST_F(TemplateHooks, FillItypeKeepsTheTypeAndShowsItsBannerForNotSpec) {
  engine::message m;
  EXPECT_EQ("CLICK", hooks.fill_itype(st, m, 1, "CLICK"));
  EXPECT_EQ("", page());
  EXPECT_EQ("NOT_SPEC", hooks.fill_itype(st, m, 1, "NOT_SPEC"));
  EXPECT_EQ("\n**************************************************************\n<br>"
            "*** This is the template function of fill_itype()\n<br>"
            "*** If you didn't specify ic_type of output message in fg format,\n<br>"
            "*** you have to decide the ic_type in function fill_itype().\n<br>"
            "**************************************************************\n<p>",
            page());
}

TEST_F(TemplateHooks, StubsThatFindNothing) {
  engine::message m;
  EXPECT_EQ("", hooks.fill_content(st, m));
  engine::id_set ids = hooks.find_ic(st, cell, f, {}, m, "CLICK");
  EXPECT_TRUE(ids.ids.empty());
  EXPECT_TRUE(hooks.find_orv(st, cell, f, {}, m, "CLICK").names.empty());
  EXPECT_EQ("*** This is the template function of fill_content().\n<br>"
            "*** Nothing is defined here.\n<p>"
            "This is the template function of find_ic()\n"
            "No IC is returned here.\n",
            page());
  EXPECT_EQ(nullptr, hooks.new_internal_mm("CLICK"));
  EXPECT_FALSE(hooks.find_named_cell(""));
}

TEST_F(TemplateHooks, UserDefinedValues) {
  EXPECT_EQ("VAR_NOT_DEFINED!!", hooks.userdef_v(st, "X1", cell, 0));
  EXPECT_EQ("DB_ACCESS_NOT_DEFINED!!", hooks.userdef_db(st, "DB1", cell, 0));
  EXPECT_EQ("FUNC_NOT_DEFINED!!", hooks.userdef_f(st, "G9", none, cell, 0));
  std::vector<engine::parameter> seven{{1, engine::PAR_CONSTANT, "I7", "7"}};
  EXPECT_EQ("8", hooks.userdef_f(st, "G0", seven, cell, 0));
  EXPECT_EQ("6", hooks.userdef_f(st, "H0", seven, cell, 0));
  EXPECT_EQ("userdef_v(): variable X1 not defined\n"
            "userdef_db(): db_access DB1 not defined\n"
            "userdef_f(): function G9 not defined\n",
            page());
}

TEST_F(TemplateHooks, UncalledStubs) {
  EXPECT_EQ(engine::IC_TYPE, cellkit::fill_mflag(out_.pg()));
  EXPECT_EQ(1, cellkit::pred_match(out_.pg()));
  cellkit::dump_internal_mm(out_.pg());
  EXPECT_EQ("\n**********************************************************\n<br>"
            "*** This is the template function of fill_mflag()\n<br>"
            "*** Just return IC_TYPE in the template function.\n<br>"
            "**********************************************************\n<p>"
            "This is the template function of pred_match()\n"
            " for old version of predicate definition.\n"
            "Nothing is defined here\n"
            "Just return TRUE in the template function.\n"
            "*** This is the template function of dump_internal_mm().\n<br>"
            "*** Nothing is dumpped here.\n<p>",
            page());
}

TEST_F(TemplateHooks, MessageTable) {
  EXPECT_EQ(0, engine::encode_msg(st, "SINGLECLICK"));
  EXPECT_EQ(1, engine::encode_msg(st, "DOUBLECLICK"));
  EXPECT_EQ("DOUBLECLICK", engine::decode_msg(st, 1));
  EXPECT_EQ(0, exit_status_of([&] { engine::encode_msg(st, "MSG_CREATE"); }));
  EXPECT_EQ(0, exit_status_of([&] { engine::decode_msg(st, 2); }));
  EXPECT_EQ("encode_msg: Unknown message type MSG_CREATE\n"
            "decode_msg: Unknown message type 2\n",
            page());
}

}  // namespace
