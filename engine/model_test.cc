#include "engine/model.h"

#include "engine/ic_manager.h"
#include "engine/message_queue.h"
#include "engine/senders.h"
#include "engine/test_hooks.h"
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using engine::ic_record;
using engine::message;
using engine_test::engine_fixture;
using formdecode::run_exit;

class ModelTest : public ::testing::Test, public engine_fixture {
 protected:
  // A cell of type `type` at the front of `list` whose one function accepts `accepts`.
  ic_record& add_cell(engine::cell_list& list, std::int32_t id, const std::string& type,
                      std::int32_t accepts = 1) {
    ic_record c;
    c.id = id;
    c.ic_type = type;
    engine::fg_function f;
    message spec;
    spec.msg_type = accepts;
    f.inputs.push_back(spec);
    c.fg.push_back(f);
    list.push_front(std::move(c));
    return list.front();
  }
};

TEST_F(ModelTest, NameTables) {
  EXPECT_EQ("MSG_MOVE_DELETE", engine::decode_msg(st, 52));
  EXPECT_EQ(100, engine::encode_msg(st, "MSG_DELETE"));
  EXPECT_EQ("", page.str());
  try {
    engine::decode_msg(st, 9);
    FAIL() << "decode_msg of 9 must end the run";
  } catch (const run_exit& e) {
    EXPECT_EQ(0, e.status);
  }
  EXPECT_EQ("decode_msg: Unknown message type 9\n", page.str());
  page.str("");
  try {
    engine::encode_msg(st, "msg_create");
    FAIL() << "names are case-sensitive";
  } catch (const run_exit& e) {
    EXPECT_EQ(0, e.status);
  }
  EXPECT_EQ("encode_msg: Unknown message type msg_create\n", page.str());

  EXPECT_EQ("S0", engine::state_name(0));
  EXPECT_EQ("STATE_3", engine::state_name(3));
  EXPECT_EQ("SLEEP", engine::state_name(-2));
  EXPECT_EQ("DEAD", engine::state_name(-1));
  EXPECT_EQ("(EXTERNAL)", engine::sender_name(-1));
  EXPECT_EQ("(UNKNOWN)", engine::sender_name(0));
  EXPECT_EQ("", engine::sender_name(7));
}

TEST_F(ModelTest, MessageAccessors) {
  message m;
  EXPECT_EQ("NONE", engine::itype_of(m));
  m.itype = "VANTLE";
  EXPECT_EQ("VANTLE", engine::itype_of(m));
}

TEST_F(ModelTest, MessageBufferOverwritesSlotZeroWhenFull) {
  ic_record cell;
  message m;
  m.msg_type = 3;
  for (int i = 0; i < 10; ++i) {
    m.sender = 100 + i;
    EXPECT_EQ(i, engine::record_sender(cell, m));
  }
  m.sender = 999;
  EXPECT_EQ(0, engine::record_sender(cell, m)) << "the eleventh sender lands in slot 0";
  EXPECT_EQ(999, cell.buffer[0].source);
  EXPECT_EQ(101, cell.buffer[1].source);
  cell.buffer[4].source = engine::free_slot;
  EXPECT_EQ(4, engine::record_sender(cell, m)) << "first free slot";
  m.msg_type = -1;
  EXPECT_EQ(-1, engine::record_sender(cell, m)) << "reply requests record nothing";
}

TEST_F(ModelTest, SameIcSlotsIgnoreTypesWithoutSlot) {
  ic_record cell;
  engine::set_same_ic(cell, 7, 12);
  engine::set_same_ic(cell, -1, 5);
  engine::set_same_ic(cell, 50, 9);
  engine::set_same_ic(cell, 300, 9);
  engine::set_same_ic(cell, -2, 9);
  EXPECT_EQ(12, cell.same_ic[7]);
  EXPECT_EQ(5, cell.same_ic_reply);
  for (size_t i = 0; i < cell.same_ic.size(); ++i) {
    if (i != 7) {
      EXPECT_EQ(-1, cell.same_ic[i]) << i;
    }
  }
}

TEST_F(ModelTest, MessageComparison) {
  message a, b;
  a.msg_type = b.msg_type = 3;
  a.sender = b.sender = 4;
  a.mflag = b.mflag = engine::IC_ID;
  a.content = b.content = "x|y";
  a.receivers = b.receivers = {7};
  a.itype = "VANTLE";
  b.itype = "OTHER";
  EXPECT_TRUE(engine::same_message(a, b)) << "itype counts only for IC_TYPE";
  a.mflag = b.mflag = engine::IC_TYPE;
  EXPECT_FALSE(engine::same_message(a, b));
  b.itype.reset();
  a.itype.reset();
  EXPECT_TRUE(engine::same_message(a, b)) << "two absent itypes are both NONE";
  b.content = "x";
  EXPECT_FALSE(engine::same_message(a, b));
  b.content.reset();
  EXPECT_TRUE(engine::same_message(a, b)) << "a reloaded output keeps no content";
  b.receivers = {8};
  EXPECT_FALSE(engine::same_message(a, b));
  b.receivers = {7};
  b.sender = 5;
  EXPECT_FALSE(engine::same_message(a, b));
}

TEST_F(ModelTest, LocateSearchesTheListAsked) {
  add_cell(st.cells.active, 1, "A");
  add_cell(st.cells.sleeping, 2, "A");
  using engine::which_list;
  EXPECT_EQ(1, st.cells.locate(1, which_list::active).cell()->id);
  EXPECT_EQ(2, st.cells.locate(2, which_list::sleeping).cell()->id);
  EXPECT_FALSE(st.cells.locate(2, which_list::active));
  EXPECT_EQ("", page.str()) << "the population reports nothing; the IC manager does";
}

TEST_F(ModelTest, CellsAcceptingAType) {
  add_cell(st.cells.active, 1, "A", 1);
  add_cell(st.cells.active, 2, "B", 1);
  add_cell(st.cells.active, 3, "A", 2);
  add_cell(st.cells.active, 4, "A", 1);  // active list: 4 3 2 1
  add_cell(st.cells.sleeping, 5, "A", 1);
  engine::id_set a = st.cells.accepting(1, "A");
  EXPECT_EQ((std::vector<std::int32_t>{1, 4}), a.ids) << "reverse order of the active list";
  engine::id_set any = st.cells.accepting(1, "NOT_SPEC");
  EXPECT_EQ((std::vector<std::int32_t>{1, 2, 4}), any.ids);
  EXPECT_TRUE(st.cells.accepting(9, "NOT_SPEC").ids.empty());
}

TEST_F(ModelTest, NextReceiver) {
  message m;
  m.receivers = {3, 0};
  m.orv_id = "north";
  EXPECT_EQ(3, engine::next_receiver(st, m));
  EXPECT_EQ(0, engine::next_receiver(st, m));
  EXPECT_EQ("Wrong ic_id = 0 in the case of flag = IC_ID or IC_ID_TYPE.\n<p>", page.str());
  EXPECT_EQ(0, engine::next_receiver(st, m)) << "no receivers, no names";
  hooks.names["doc"] = 9;
  m.sym_names = {"doc"};
  EXPECT_EQ(9, engine::next_receiver(st, m)) << "looked up by name at this site";
  m.orv_id = "south";
  EXPECT_EQ(0, engine::next_receiver(st, m)) << "names of other sites are not looked up";
}

TEST_F(ModelTest, QueueIsFirstInFirstOut) {
  EXPECT_TRUE(engine::queue_empty(st));
  message m;
  m.msg_type = 1;
  engine::append_queue(st, m);
  m.msg_type = 2;
  engine::append_queue(st, m);
  EXPECT_EQ(1, engine::take_queue(st).msg_type);
  EXPECT_EQ(2, engine::take_queue(st).msg_type);
  EXPECT_EQ(2, st.clock) << "the clock counts the messages taken";
  EXPECT_TRUE(engine::queue_empty(st));
  engine::append_queue(st, m);
  engine::clear_queue(st);
  EXPECT_TRUE(engine::queue_empty(st));
}

TEST_F(ModelTest, SleepWakeAndNextState) {
  add_cell(st.cells.active, 1, "A");
  add_cell(st.cells.active, 2, "A");
  add_cell(st.cells.active, 3, "A");  // 3 2 1
  st.cells.active.front().max_time = 0;
  std::next(st.cells.active.begin(), 2)->max_time = 0;
  st.cells.sleep_expired();
  ASSERT_EQ(1u, st.cells.active.size());
  EXPECT_EQ(2, st.cells.active.front().id);
  EXPECT_EQ(1, st.cells.sleeping.front().id);
  EXPECT_EQ(3, st.cells.sleeping.back().id);
  EXPECT_EQ(engine::STATE_SLEEP, st.cells.sleeping.front().current_state);

  st.clock = 5;
  ic_record& woken = st.cells.wake(std::next(st.cells.sleeping.begin()), st.clock);
  EXPECT_EQ(3, woken.id);
  EXPECT_EQ(3, st.cells.active.front().id);
  EXPECT_EQ(0, woken.current_state);
  EXPECT_EQ(100, woken.max_time);
  EXPECT_EQ(5, woken.birth_time);

  engine::add_input(woken, message{});
  woken.outputs.emplace_back();
  engine::fg_function dead;
  dead.next_state = engine::STATE_DEAD;
  st.cells.set_next_state(dead, st.cells.active.begin());
  EXPECT_EQ(3, st.cells.sleeping.front().id);
  EXPECT_TRUE(st.cells.sleeping.front().inputs.empty());
  EXPECT_TRUE(st.cells.sleeping.front().outputs.empty());
  EXPECT_EQ(0, st.cells.sleeping.front().max_time);

  engine::fg_function on;
  on.next_state = 4;
  st.cells.set_next_state(on, st.cells.active.begin());
  EXPECT_EQ(4, st.cells.active.front().current_state);
}

TEST_F(ModelTest, InputAndOutputLists) {
  ic_record cell;
  message m;
  m.sender = 6;
  m.msg_type = 1;
  engine::add_input(cell, m);
  m.msg_type = 2;
  engine::add_input(cell, m);
  EXPECT_EQ(2, cell.inputs.front().msg.msg_type) << "newest first";
  EXPECT_EQ(6, cell.inputs.front().source);

  std::list<engine::output_group> groups(2);
  groups.front().msgs.push_back(engine::msg_node{9, m});
  engine::add_output_group(cell, std::move(groups));
  EXPECT_EQ(2u, cell.outputs.size());
  EXPECT_EQ(9, cell.outputs.front().msgs.front().source);
}

class NewCellTest : public ModelTest {
 protected:
  NewCellTest() : cd_(dir_.path()) {
    test_util::write_file(dir_ / "NOTE.in", "// no transitions\n");
  }
  test_util::scoped_temp_dir dir_;
  engine_test::scoped_chdir cd_;
};

TEST_F(NewCellTest, ExternalMessageOfThisSite) {
  message m;
  m.sender = -1;
  m.sym_names = {"doc"};
  m.server_id = "srv1";
  m.orv_id = "north";
  m.itype = "NOTE";
  m.receivers = {0};
  m.flag = 's';
  st.clock = 3;
  ic_record* c = engine::new_cell_from_message(st, m);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(c, &st.cells.active.front());
  EXPECT_EQ(1, c->id);
  EXPECT_EQ("NOTE", c->ic_type);
  EXPECT_EQ("doc", c->sym_name);
  EXPECT_EQ(3, c->birth_time);
  EXPECT_EQ(100, c->max_time);
  EXPECT_EQ(0, c->current_state);
  EXPECT_EQ(1u, c->fg.size()) << "the head function";
  EXPECT_NE(nullptr, dynamic_cast<engine_test::note*>(c->mm.get()));
  EXPECT_EQ(1, c->sys_name.ic_id) << "this site's cell carries its own id";
  EXPECT_EQ('s', c->sys_name.flag);
  for (const auto& slot : c->buffer) EXPECT_EQ(engine::free_slot, slot.source);
  EXPECT_EQ(-1, c->same_ic_reply);
  EXPECT_EQ((std::vector<std::string>{"register_cell doc north", "new_internal_mm NOTE"}),
            hooks.calls);
}

TEST_F(NewCellTest, CopyOfAnotherSitesCellKeepsItsId) {
  message m;
  m.sender = -1;
  m.server_id = "srv9";
  m.orv_id = "south";
  m.itype = "NOTE";
  m.receivers = {42};
  m.flag = 'c';
  hooks.next_id = 7;
  ic_record* c = engine::new_cell_from_message(st, m);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(7, c->id);
  EXPECT_EQ("", c->sym_name);
  EXPECT_EQ(42, c->sys_name.ic_id);
  EXPECT_EQ("south", c->sys_name.orv_id);
  EXPECT_EQ('c', c->sys_name.flag);
}

TEST_F(NewCellTest, InternalSenderGetsThisSitesName) {
  message m;
  m.sender = 4;
  m.itype = "NOTE";
  m.orv_id = "elsewhere";
  ic_record* c = engine::new_cell_from_message(st, m);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ("srv1", c->sys_name.server_id);
  EXPECT_EQ("north", c->sys_name.orv_id);
  EXPECT_EQ("NOTE", c->sys_name.ic_type);
  EXPECT_EQ(c->id, c->sys_name.ic_id);
  EXPECT_EQ('s', c->sys_name.flag);
}

TEST_F(NewCellTest, RefusedOrFailedRegistrationMakesNoCell) {
  message m;
  m.itype = "NOTE";
  hooks.answer = engine::cell_registration::refused;
  EXPECT_EQ(nullptr, engine::new_cell_from_message(st, m));
  EXPECT_EQ("", page.str());
  hooks.answer = engine::cell_registration::failed;
  EXPECT_EQ(nullptr, engine::new_cell_from_message(st, m));
  EXPECT_EQ("Error occurs when writing a new record into the naming Database.\n<p>", page.str());
  EXPECT_TRUE(st.cells.active.empty());
}

TEST_F(NewCellTest, TypeWithoutMessageTypeIsNone) {
  test_util::write_file(dir_ / "NONE.in", "");
  message m;
  ic_record* c = engine::new_cell_from_message(st, m);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ("NONE", c->ic_type);
  EXPECT_EQ(nullptr, c->mm);
}

}  // namespace
