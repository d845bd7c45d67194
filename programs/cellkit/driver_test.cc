// The engine under the rules of cellkit: its forms, its system messages,
// the IC manager without names, and outputs for other managers.
#include "programs/cellkit/driver.h"

#include "engine/cell_store.h"
#include "engine/ic_manager.h"
#include "gtest/gtest.h"
#include "programs/cellkit/template_hooks.h"
#include "tests/test_util.h"

namespace {

using test_util::exit_status_of;
using test_util::read_file;
using test_util::write_file;

// CLICK: SINGLECLICK in state 0 runs action 0 and goes to 1; DOUBLECLICK
// in state 1 runs action 1 and goes back to 0.
const char* const click_fg = "0\n1\n1\n0\n0\n0\n0\n1\n0\n" "1\n0\n1\n1\n0\n0\n0\n1\n1\n";
// FAN: a SINGLECLICK sends a DOUBLECLICK to cell 99 and one to a new CLICK
// cell, neither with a content template; cell 99 is served first.
const char* const fan_fg = "0\n1\n1\n0\n0\n2\n99,CLICK\n0,CLICK\n2\n1\n1\n0\n";
// AWAY: a SINGLECLICK sends a DOUBLECLICK to cell 5 of another manager
// named by X1, with no IC type and no content template.
const char* const away_fg = "0\n1\n1\n0\n0\n1\n5,,X1\n1\n1\n0\n";

class CellkitEngine : public test_util::in_run_dir {
 protected:
  CellkitEngine() {
    cellkit::configure(st);
    write_file("CLICK.in", click_fg);
    write_file("FAN.in", fan_fg);
    write_file("AWAY.in", away_fg);
  }

  engine::ext_message from_form(std::int32_t flag, const std::string& type,
                                const std::string& ic_type, std::int32_t id = 0) {
    engine::ext_message m;
    m.flag = flag;
    m.msg_type_name = type;
    m.ic_type = ic_type;
    m.receiver.ic_type = ic_type;
    m.receiver.ic_id = id;
    m.receiver.flag = 's';
    m.content = "NULL";
    return m;
  }

  std::vector<std::int32_t> ids() const {
    std::vector<std::int32_t> r;
    for (const engine::cell_slot& c : st.cells.active) r.push_back(c.id());
    return r;
  }

  cellkit::template_hooks hooks;
  engine::engine_state st{out_, engine::site_identity{}, cellkit::message_types, hooks};
};

TEST_F(CellkitEngine, MissingCellByIdEndsTheManagerRunAndDropsTheQueue) {
  cellkit::handle_request(st, from_form(engine::IC_TYPE, "SINGLECLICK", "FAN"));
  EXPECT_EQ("*** This is the template function of fill_content().\n<br>"
            "*** Nothing is defined here.\n<p>"
            "*** This is the template function of fill_content().\n<br>"
            "*** Nothing is defined here.\n<p>"
            "The receiving index cell (with type = CLICK and id = 99) is NOT found.\n <br>"
            "The receiving index cell (wth type = CLICK and id = 99) is NOT found.\n <br>",
            page());
  EXPECT_EQ((std::vector<std::int32_t>{1}), ids()) << "the queued creation is dropped";
  EXPECT_EQ(2, st.cells.next_cell_id);
  EXPECT_EQ("", trace()) << "no not-found warning of the lookup";
}

TEST_F(CellkitEngine, DeliveryGoesOnAfterAMissingReceiverOfIdAndType) {
  cellkit::handle_request(st, from_form(engine::IC_TYPE, "SINGLECLICK", "CLICK"));
  engine::message m;
  m.mflag = engine::IC_ID_TYPE;
  m.msg_type = 1;
  m.sender = engine::SENDER_EXTERNAL;
  m.itype = "CLICK";
  m.receivers = {8, 1};
  engine::ic_manager(st, m);
  // Cell 1 got the message and fired; a new cell 2 got it as well.
  EXPECT_EQ((std::vector<std::int32_t>{2, 1}), ids());
  EXPECT_EQ(1, st.cells.active.front().inputs.size());
  EXPECT_EQ(0, st.cells.active.back().current_state);
  EXPECT_EQ("Single click!double click\n", page());
}

TEST_F(CellkitEngine, AFirstReceiverOfZeroIsNotReplaced) {
  cellkit::handle_request(st, from_form(engine::IC_TYPE, "SINGLECLICK", "CLICK"));
  engine::message m;
  m.mflag = engine::IC_ID;
  m.msg_type = 1;
  m.sender = engine::SENDER_EXTERNAL;
  m.itype = "CLICK";
  m.receivers = {0};
  engine::ic_manager(st, m);
  EXPECT_EQ((std::vector<std::int32_t>{1}), ids());
  EXPECT_EQ(1, st.cells.active.front().current_state) << "cell 1 was not reached";
  EXPECT_EQ("Single click!Wrong ic_id = 0 in the case of flag = IC_ID or IC_ID_TYPE.\n<p>",
            page());
}

TEST_F(CellkitEngine, OutputsForAnotherManagerAreBuiltAndDropped) {
  cellkit::handle_request(st, from_form(engine::IC_TYPE, "SINGLECLICK", "AWAY"));
  EXPECT_EQ("\n**************************************************************\n<br>"
            "*** This is the template function of fill_itype()\n<br>"
            "*** If you didn't specify ic_type of output message in fg format,\n<br>"
            "*** you have to decide the ic_type in function fill_itype().\n<br>"
            "**************************************************************\n<p>"
            "*** This is the template function of fill_content().\n<br>"
            "*** Nothing is defined here.\n<p>",
            page());
  ASSERT_EQ((std::vector<std::int32_t>{1}), ids());
  EXPECT_TRUE(st.cells.active.front().outputs.empty());
  EXPECT_EQ(1, st.cells.active.front().current_state);
}

TEST_F(CellkitEngine, SystemMessages) {
  cellkit::handle_request(st, from_form(engine::IC_TYPE, "SINGLECLICK", "CLICK"));
  cellkit::handle_request(st, from_form(engine::ORV_MSG, "SYS_BACKUP", "NULL"));
  std::string stored = read_file("file.ic").value_or("");
  EXPECT_EQ(0u, stored.find("next available ic: 2\nid: 1\n")) << stored;
  cellkit::handle_request(st, from_form(engine::IC_TYPE, "SINGLECLICK", "CLICK"));
  EXPECT_EQ((std::vector<std::int32_t>{2, 1}), ids());
  cellkit::handle_request(st, from_form(engine::ORV_MSG, "SYS_RESTORE", "NULL"));
  EXPECT_EQ((std::vector<std::int32_t>{1}), ids());
  EXPECT_EQ(2, st.cells.next_cell_id) << "the stored counter comes back with the stored cells";
  cellkit::handle_request(st, from_form(engine::ORV_MSG, "DOUBLECLICK", "NULL"));
  EXPECT_EQ("Single click!All Vantles are backuped. <p>\nSingle click!"
            "All Vantles are restored.<p>\nUnknown message type: DOUBLECLICK <p>\n",
            page());
  EXPECT_EQ(0, exit_status_of([&] {
              cellkit::handle_request(st, from_form(engine::ORV_MSG, "FOO", "NULL"));
            }));
  EXPECT_NE(std::string::npos, page().find("encode_msg: Unknown message type FOO\n"));
}

TEST_F(CellkitEngine, StoreWithoutCounterContinuesAfterTheHighestId) {
  write_file("file.ic", "id: 7\nic type: CLICK\ncurrent state: 1\ninitial state: 0\n"
                        "max. time: 100\ninput list: 0\noutput list: 0\nsame ic: 0\n");
  engine::load_all_cells(st);
  EXPECT_EQ(8, st.cells.next_cell_id);
  write_file("file.ic", "next available ic: 3\n"
                        "id: 5\nic type: CLICK\ncurrent state: 1\ninitial state: 0\n"
                        "max. time: 100\ninput list: 0\noutput list: 0\nsame ic: 0\n");
  st.cells.next_cell_id = 1;
  engine::load_all_cells(st);
  EXPECT_EQ(6, st.cells.next_cell_id) << "a counter below a stored id is raised";
  cellkit::handle_request(st, from_form(engine::IC_TYPE, "SINGLECLICK", "CLICK"));
  EXPECT_EQ((std::vector<std::int32_t>{6, 5}), ids());
}

class CellkitForm : public ::testing::Test {
 protected:
  engine::ext_message build() {
    return site::build_ext_message(fields, engine::site_identity{}, 42, pg, cellkit::form());
  }
  formdecode::field_store fields;
  std::ostringstream text;
  formdecode::page pg{text};
};

TEST_F(CellkitForm, NoSymbolicNameAndNullTypeForSystemMessages) {
  fields.set("WWW_message_type", "SYS_BACKUP");
  fields.set("WWW_flag", "orv");
  fields.set("WWW_ic_sym_name", std::string(60, 'n'));
  engine::ext_message m = build();
  EXPECT_EQ("NULL", m.ic_type);
  EXPECT_EQ("", m.ic_sym_name) << "the field is not read, so its length is not checked";
  EXPECT_EQ("", m.receiver.server_id);
  EXPECT_EQ("", m.receiver.orv_id);
}

TEST_F(CellkitForm, LongNamesAreRefused) {
  fields.set("WWW_message_type", "SINGLECLICK");
  fields.set("WWW_flag", "new");
  fields.set("WWW_ic_type", std::string(49, 'T'));
  EXPECT_EQ(std::string(49, 'T'), build().ic_type);
  fields.set("WWW_ic_type", std::string(50, 'T'));
  EXPECT_EQ(0, exit_status_of([&] { build(); }));
  EXPECT_EQ("ic_type too long\n", text.str());
  fields.set("WWW_ic_type", "CLICK");
  fields.set("WWW_message_type", std::string(50, 'M'));
  EXPECT_EQ(0, exit_status_of([&] { build(); }));
  EXPECT_EQ("ic_type too long\nmesg_type is too long.\n", text.str());
}

}  // namespace
