// The IC manager loop: delivery, creation, one firing per message, stale
// inputs, withdrawal of consumed outputs, and exchanges that span runs.
#include "engine/ic_manager.h"

#include "engine/cell_store.h"
#include "engine/fg_reader.h"
#include "engine/model.h"
#include "engine/test_hooks.h"
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using engine::ext_message;
using engine::ic_record;
using engine::message;
using test_util::read_file;
using test_util::write_file;

class IcManagerTest : public test_util::in_temp_dir, public engine_test::engine_fixture {
 protected:
  // A cell `id` of `type` (whose file must exist) at the front of the
  // active list.
  ic_record& add_cell(std::int32_t id, const std::string& type) {
    ic_record c;
    c.id = id;
    c.ic_type = type;
    c.sys_name = {"srv1", "north", type, id, 's'};
    c.fg = st.functions.copy_of(type);
    st.cells.active.push_front(std::move(c));
    return st.cells.active.front();
  }

  // An external message of type number `type` (as a cell of another site
  // sends it) for cells of `ic_type`.
  static ext_message ext(std::int32_t flag, std::int32_t type, const std::string& ic_type,
                         std::int32_t id, const std::string& content) {
    ext_message e;
    e.kind = 2;
    e.flag = flag;
    e.msg_type = type;
    e.ic_type = ic_type;
    e.receiver = {"srv1", "north", ic_type, id, 's'};
    e.content = content;
    return e;
  }

  ic_record* cell(std::int32_t id) {
    for (ic_record& c : st.cells.active) {
      if (c.id == id) return &c;
    }
    return nullptr;
  }

  std::vector<std::string> calls_starting(const std::string& prefix) {
    std::vector<std::string> r;
    for (const std::string& c : hooks.calls) {
      if (c.rfind(prefix, 0) == 0) r.push_back(c);
    }
    return r;
  }

  size_t count(const std::string& text) {
    std::string p = page.str();
    size_t n = 0;
    for (size_t at = p.find(text); at != std::string::npos; at = p.find(text, at + 1)) ++n;
    return n;
  }
};

// T: created by MSG_CREATE, runs action 5 and goes to state 1.
const char* const t_type = "0\n1\n1\n1,X1\n0\n0\n0\n1\n5,X1\n";

TEST_F(IcManagerTest, CreatedCellFiresAtOnce) {
  write_file("T.in", t_type);
  ext_message e = ext(engine::IC_TYPE, 0, "T", 0, "hello|NULL");
  e.kind = 3;
  e.msg_type_name = "MSG_CREATE";
  e.ic_sym_name = "doc";
  engine::handle_ext_message(st, e);
  ASSERT_EQ(1u, st.cells.active.size());
  ic_record& c = st.cells.active.front();
  EXPECT_EQ(1, c.id);
  EXPECT_EQ("doc", c.sym_name);
  EXPECT_EQ(1, c.current_state);
  EXPECT_TRUE(c.inputs.empty()) << "consumed";
  EXPECT_EQ(std::vector<std::string>{"do_actions 5 cell 1"}, calls_starting("do_actions"));
  ASSERT_EQ(1u, c.bindings.size()) << "the firing's bindings stay";
  EXPECT_EQ("hello", c.bindings[0].value);
  EXPECT_EQ(1, st.clock);
  EXPECT_EQ("", page.str());
}

TEST_F(IcManagerTest, DeliveryWakesASleepingCell) {
  write_file("T.in", "0\n3\n1\n52\n0\n0\n0\n1\n6\n");
  add_cell(4, "T");
  st.cells.sleeping.splice(st.cells.sleeping.begin(), st.cells.active, st.cells.active.begin());
  st.cells.sleeping.front().current_state = engine::STATE_SLEEP;
  st.cells.sleeping.front().max_time = 0;
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "T", 4, "x"));
  ASSERT_EQ(1u, st.cells.active.size());
  EXPECT_TRUE(st.cells.sleeping.empty());
  EXPECT_EQ(3, st.cells.active.front().current_state) << "woken into state 0, then fired";
  EXPECT_EQ(100, st.cells.active.front().max_time);
  EXPECT_EQ(std::vector<std::string>{"do_actions 6 cell 4"}, calls_starting("do_actions"));
  EXPECT_EQ("found_ic(): ic_id = 4 not found!\n", page.str()) << "not in the active list";
}

TEST_F(IcManagerTest, UnknownIdCreatesACellOfTheFormsType) {
  write_file("T.in", "0\n1\n1\n52\n0\n0\n0\n1\n6\n");
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "T", 42, "x"));
  EXPECT_EQ(2u, count("found_ic(): ic_id = 42 not found!\n"));
  ASSERT_EQ(1u, st.cells.active.size());
  EXPECT_EQ("T", st.cells.active.front().ic_type);
  EXPECT_EQ(std::vector<std::string>{"do_actions 6 cell 1"}, calls_starting("do_actions"));
}

TEST_F(IcManagerTest, Broadcast) {
  write_file("T.in", "0\n0\n1\n52\n0\n0\n0\n1\n6\n");
  write_file("U.in", "0\n0\n1\n52\n0\n0\n0\n1\n7\n");
  write_file("V.in", "0\n0\n1\n100\n0\n0\n0\n1\n8\n");
  add_cell(2, "T");
  add_cell(5, "T");
  add_cell(3, "U");
  add_cell(9, "V");
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "T", -1, "x"));
  EXPECT_EQ((std::vector<std::string>{"do_actions 6 cell 5", "do_actions 6 cell 2"}),
            calls_starting("do_actions"))
      << "every accepting cell of the type, highest id first";
  hooks.calls.clear();
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "NOT_SPEC", -1, "x"));
  EXPECT_EQ((std::vector<std::string>{"do_actions 6 cell 5", "do_actions 7 cell 3",
                                      "do_actions 6 cell 2"}),
            calls_starting("do_actions"));
  EXPECT_EQ(5, st.clock) << "one message per target";
  EXPECT_EQ("", page.str());
  EXPECT_TRUE(cell(9)->inputs.empty());
}

TEST_F(IcManagerTest, RefusedAndIgnoredMessages) {
  write_file("T.in", t_type);
  add_cell(1, "T");
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "T", -6, "x"));
  EXPECT_EQ("", page.str()) << "-6: nothing delivered, nothing printed";
  engine::handle_ext_message(st, ext(engine::IC_ID_TYPE, 52, "T", 0, "x"));
  engine::handle_ext_message(st, ext(7, 52, "T", 1, "x"));
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "T", -3, "x"));
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "T", 0, "x"));
  EXPECT_EQ(
      "Flag oldnew (or IC_ID_TYPE) must be given ic id > 0\n"
      "Flag oldnew (or IC_ID_TYPE) must be given ic id > 0\n"
      "Unknown message flag 7\nUnknown message flag 7\n"
      "Unexpected ic_id = -3\nUnexpected ic_id = -3\n"
      "Unexpected ic_id = 0\nUnexpected ic_id = 0\n",
      page.str());
  EXPECT_TRUE(st.cells.active.front().inputs.empty());
  EXPECT_EQ(0, st.clock);

  page.str("");
  ext_message odd = ext(engine::IC_ID, 52, "T", 1, "x");
  odd.content_flag = 5;
  engine::handle_ext_message(st, odd);
  EXPECT_EQ("Unknown content_flag = 5\n", page.str());
  ASSERT_EQ(1u, st.cells.active.front().inputs.size()) << "processing goes on";
  EXPECT_FALSE(st.cells.active.front().inputs.front().msg.content);
}

TEST_F(IcManagerTest, CreationRefused) {
  write_file("T.in", t_type);
  hooks.answer = engine::cell_registration::refused;
  engine::handle_ext_message(st, ext(engine::IC_TYPE, 1, "T", 0, "x"));
  EXPECT_EQ("The IC can't be created.\n<p>", page.str());
  EXPECT_TRUE(st.cells.active.empty());
}

// A form message of type 1 for a cell that needs a type-9 input as well.
TEST_F(IcManagerTest, ReceiverZeroGoesToEveryAcceptingCellAndOnlyTheFirstFires) {
  write_file("T.in", "0\n1\n1\n52,X1\n0\n0\n0\n1\n6,X1\n");
  add_cell(2, "T");
  add_cell(3, "T");
  message m;
  m.mflag = engine::IC_ID;
  m.msg_type = 52;
  m.sender = -1;
  m.itype = "T";
  m.receivers = {0};
  m.content = "a";
  engine::ic_manager(st, m);
  EXPECT_EQ(std::vector<std::string>{"do_actions 6 cell 3"}, calls_starting("do_actions"))
      << "only the cell nearest the head fires";
  EXPECT_EQ(1u, cell(2)->inputs.size()) << "the other keeps its copy for a later scan";
  EXPECT_TRUE(cell(3)->inputs.empty());

  // Nobody accepts type 100: a cell of the itype is created instead.
  m.msg_type = 100;
  hooks.calls.clear();
  engine::ic_manager(st, m);
  EXPECT_EQ(3u, st.cells.active.size());
  EXPECT_EQ(1u, calls_starting("register_cell").size());
}

TEST_F(IcManagerTest, SymbolicNameDeliversOnce) {
  write_file("T.in", "5\n1\n1\n52,X1\n0\n0\n0\n0\n");  // never fires in state 0
  add_cell(3, "T");
  add_cell(5, "T");
  hooks.names["doc"] = 3;
  ext_message e = ext(engine::IC_ID, 52, "T", 3, "a");
  e.ic_sym_name = "doc";
  engine::handle_ext_message(st, e);
  EXPECT_EQ(1u, cell(3)->inputs.size()) << "by id and by name it is the same cell";
  e.receiver.ic_id = 5;
  engine::handle_ext_message(st, e);
  EXPECT_EQ(2u, cell(3)->inputs.size());
  EXPECT_EQ(1u, cell(5)->inputs.size());
  EXPECT_EQ(2u, calls_starting("find_named_cell").size()) << "asked once per message";
}

// S sends one type-2 message to three R cells as alternatives; each R needs
// a type-9 message as well.
TEST_F(IcManagerTest, ConsumedAlternativesAreWithdrawn) {
  write_file("S.in", "0\n1\n1\n52\n0\n1\n-2,R\n1\n2,S1\n0\n");
  write_file("R.in", "0\n1\n2\n9\n2,X1\n0\n0\n0\n1\n4,X1\n");
  add_cell(2, "R");
  add_cell(3, "R");
  add_cell(4, "R");
  add_cell(1, "S");
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "S", 1, "go"));
  ASSERT_EQ(1u, cell(1)->outputs.size());
  EXPECT_EQ(3u, cell(1)->outputs.front().msgs.size());
  for (int id : {2, 3, 4}) EXPECT_EQ(1u, cell(id)->inputs.size()) << id;

  // Cell 4 goes to sleep meanwhile: its copy is passed over, not looked up.
  for (auto it = st.cells.active.begin(); it != st.cells.active.end(); ++it) {
    if (it->id != 4) continue;
    st.cells.sleeping.splice(st.cells.sleeping.begin(), st.cells.active, it);
    break;
  }
  engine::handle_ext_message(st, ext(engine::IC_ID, 9, "R", 3, "now"));
  EXPECT_EQ(std::vector<std::string>{"do_actions 4 cell 3"}, calls_starting("do_actions"));
  EXPECT_EQ("1", cell(3)->bindings.front().value);
  EXPECT_TRUE(cell(2)->inputs.empty());
  EXPECT_EQ(1u, st.cells.sleeping.front().inputs.size());
  EXPECT_TRUE(cell(3)->inputs.empty());
  EXPECT_TRUE(cell(1)->outputs.empty());
  EXPECT_EQ(3, cell(1)->same_ic[2]) << "type 2 is now tied to its consumer";
  EXPECT_EQ(1, cell(3)->buffer[0].source) << "the sender waits for a reply";
  EXPECT_EQ("", page.str());
}

TEST_F(IcManagerTest, StaleInputsAreDroppedAndRetriesAreBounded) {
  write_file("R.in", "0\n1\n1\n2\n0\n0\n0\n1\n4\n");
  ic_record& r = add_cell(2, "R");
  message m;
  m.mflag = engine::IC_ID;
  m.msg_type = 2;
  m.sender = 99;  // a cell that exists nowhere
  m.receivers = {2};
  for (int i = 0; i < 102; ++i) engine::add_input(r, m);
  engine::handle_ext_message(st, ext(engine::IC_ID, 100, "R", 2, "x"));
  EXPECT_EQ(1u, count("ic_manager: warning: check the program. You may get infinite loop.\n <br>"));
  EXPECT_EQ(202u, count("found_ic(): ic_id = 99 not found!\n")) << "101 attempts, two lists each";
  EXPECT_EQ(2u, r.inputs.size()) << "101 stale inputs dropped";
  EXPECT_TRUE(calls_starting("do_actions").empty());
}

TEST_F(IcManagerTest, LaterMessagesAreStillDeliveredById) {
  // A creates a cell by sending to id 77 (which exists nowhere); the new
  // C cell then sends to the existing cell 2 by id.
  write_file("A.in", "0\n1\n1\n52\n0\n1\n77,C\n1\n2,S1\n0\n");
  write_file("C.in", "0\n1\n1\n2\n0\n1\n2,R\n1\n9,S2\n0\n");
  write_file("R.in", "0\n1\n1\n9,X1\n0\n0\n0\n1\n4,X1\n");
  add_cell(2, "R");
  add_cell(1, "A");
  hooks.next_id = 3;
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "A", 1, "go"));
  EXPECT_EQ((std::vector<std::string>{"do_actions 4 cell 2"}), calls_starting("do_actions"));
  ASSERT_EQ(3u, st.cells.active.size());
  ic_record& c = st.cells.active.front();
  EXPECT_EQ("C", c.ic_type);
  EXPECT_EQ(1, c.current_state) << "the new cell consumed the message that made it";
  EXPECT_TRUE(cell(1)->outputs.empty()) << "its group was pointed at the new cell and withdrawn";
  EXPECT_EQ(c.id, cell(1)->same_ic[2]);
  EXPECT_EQ(2u, count("found_ic(): ic_id = 77 not found!\n"));
}

TEST_F(IcManagerTest, CellCreatedByRuleTwoConsumesItsMessage) {
  write_file("A.in", "0\n1\n1\n52\n0\n1\n0,C\n1\n2,S1\n0\n");
  write_file("C.in", "0\n1\n1\n2,X1\n0\n0\n0\n1\n3,X1\n");
  add_cell(1, "A");
  hooks.next_id = 2;
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "A", 1, "go"));
  EXPECT_EQ((std::vector<std::string>{"do_actions 3 cell 2"}), calls_starting("do_actions"));
  EXPECT_TRUE(cell(1)->outputs.empty());
  EXPECT_EQ(2, cell(1)->same_ic[2]);
  EXPECT_EQ("", page.str());
}

// Runs `e` against the cells of `file.ic` in a fresh engine and saves them,
// as one request does.
void request(engine_test::fake_hooks& hooks, formdecode::output& out, const ext_message& e) {
  engine::engine_state st(out, engine::site_identity{"srv1", "north"}, engine_test::test_types,
                          hooks);
  engine::load_all_cells(st);
  engine::handle_ext_message(st, e);
  engine::save_all_cells(st);
}

TEST_F(IcManagerTest, ExchangesSpanningTwoRequests) {
  // A sends to B by id, to a new C by rule 2 and to itself; each receiver
  // needs a type-9 message, which comes in the next request.
  write_file("A.in",
             "0\n1\n1\n52\n0\n3\n2\n0,C\n-9\n3\n2,S1\n2,S2\n2,S3\n0\n"
             "1\n2\n2\n9\n2,X1\n0\n0\n0\n1\n8,X1\n");
  write_file("B.in", "0\n1\n2\n9\n2,X1\n0\n0\n0\n1\n6,X1\n");
  write_file("C.in", "0\n1\n2\n9\n2,X1\n0\n0\n0\n1\n7,X1\n");
  hooks.next_id = 3;
  add_cell(2, "B");
  add_cell(1, "A");
  engine::save_all_cells(st);

  request(hooks, out, ext(engine::IC_ID, 52, "A", 1, "go"));
  EXPECT_TRUE(calls_starting("do_actions").empty());
  std::string saved = *read_file("file.ic");
  EXPECT_NE(std::string::npos, saved.find("output list: 3\n1\n2 2 1\n1\n3 2 2\n1\n-9 2 1\n"))
      << saved;

  request(hooks, out, ext(engine::IC_ID, 9, "B", 2, "b"));
  request(hooks, out, ext(engine::IC_ID, 9, "C", 3, "c"));
  request(hooks, out, ext(engine::IC_ID, 9, "A", 1, "a"));
  EXPECT_EQ((std::vector<std::string>{"do_actions 6 cell 2", "do_actions 7 cell 3",
                                      "do_actions 8 cell 1"}),
            calls_starting("do_actions"))
      << "no input was taken for stale";
  EXPECT_EQ("", page.str());
  EXPECT_NE(std::string::npos, read_file("file.ic")->find("output list: 0\n"));
  EXPECT_EQ(std::string::npos, read_file("file.ic")->find("output list: 1"));
}

TEST_F(IcManagerTest, ContentFileNamedToTheEngineIsLeftAlone) {
  // Content files are taken by the exchange, which passes their text on; a
  // file name reaching the engine is neither read nor removed.
  write_file("T.in", "5\n1\n1\n52,X1\n0\n0\n0\n0\n");
  add_cell(2, "T");
  write_file("c.txt", "line 1\nline 2\n");
  ext_message e = ext(engine::IC_ID, 52, "T", -1, "c.txt");
  e.content_flag = -1;
  engine::handle_ext_message(st, e);
  EXPECT_FALSE(cell(2)->inputs.front().msg.content);
  EXPECT_EQ("line 1\nline 2\n", read_file("c.txt").value_or("")) << "kept";
}

TEST_F(IcManagerTest, RemovalWarningsAndSleepingCells) {
  write_file("T.in", "5\n1\n0\n0\n0\n0\n0\n");
  ic_record& a = add_cell(1, "T");
  message spec;
  spec.msg_type = 4;
  EXPECT_FALSE(engine::remove_input(st, spec, a));
  EXPECT_FALSE(engine::remove_input_dyn(st, spec, a));
  EXPECT_EQ("remove_input: Warning: can't find msg of type: 4\n"
            "remove_input_dyn: Warning: can't find msg of type: 4\n",
            page.str());

  // A group that is gone, and a sender that went to sleep.
  engine::output_group g;
  message m;
  m.msg_type = 2;
  m.receivers = {8};
  g.msgs.push_back({8, m});
  page.str("");
  engine::remove_output(st, 8, {engine::withdrawal{1, &g, 8, 2}});
  EXPECT_EQ("remove_output: Warning: can't find output ic with id = 8\n"
            "                        can't find output msg of type = 2\n",
            page.str());
  st.cells.sleeping.splice(st.cells.sleeping.begin(), st.cells.active, st.cells.active.begin());
  st.cells.sleeping.front().same_ic[2] = -1;
  page.str("");
  engine::remove_output(st, 8, {engine::withdrawal{1, &g, 8, 2}});
  EXPECT_EQ("", page.str()) << "a sleeping sender is passed over";
  EXPECT_EQ(-1, st.cells.sleeping.front().same_ic[2]);
}

TEST_F(IcManagerTest, RepliesGoBackToTheRecordedSenders) {
  // A sends B a type-2 message; B consumes it (A waits in B's buffer) and
  // stays in state 0, where the head function answers reply requests.
  write_file("A.in", "0\n1\n1\n52\n0\n1\n2\n1\n2,S1\n0\n");
  write_file("B.in", "0\n0\n1\n2\n0\n0\n0\n1\n4\n");
  add_cell(2, "B");
  add_cell(1, "A");
  engine::handle_ext_message(st, ext(engine::IC_ID, 52, "A", 1, "go"));
  EXPECT_EQ(1, cell(2)->buffer[0].source);
  EXPECT_TRUE(cell(1)->outputs.empty());

  cell(1)->current_state = 0;  // A answers replies too, but has no one to answer
  engine::handle_ext_message(st, ext(engine::IC_ID, -1, "B", 2, "2"));
  EXPECT_EQ(engine::free_slot, cell(2)->buffer[0].source) << "the reply was sent";
  EXPECT_TRUE(cell(1)->inputs.empty()) << "A consumed the reply";
  EXPECT_TRUE(cell(2)->outputs.empty()) << "and it was withdrawn from B";
  EXPECT_EQ("1", cell(1)->fg[0].inputs[0].content) << "the reply counts down";
  EXPECT_EQ(0, cell(2)->current_state);
  EXPECT_EQ("", page.str());
}

}  // namespace
