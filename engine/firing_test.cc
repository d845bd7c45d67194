// Parameter resolution and transition firing, with small fg functions texts
// and the recording fake of the application hooks.
#include "engine/firing.h"

#include <algorithm>
#include <random>

#include "engine/fg_reader.h"
#include "engine/model.h"
#include "engine/params.h"
#include "engine/test_hooks.h"
#include "gtest/gtest.h"

namespace {

using engine::ic_record;
using engine::message;
using engine::parameter;

class FiringTest : public ::testing::Test, public engine_test::engine_fixture {
 protected:
  // A cell `id` of type "T" in state 0 at the front of the active list,
  // with the transitions of `fg` (after the head function).
  ic_record& add_cell(std::int32_t id, const std::string& fg, const std::string& type = "T") {
    ic_record c;
    c.id = id;
    c.ic_type = type;
    c.sys_name = {"srv1", "north", type, id, 's'};
    c.fg = engine::parse_fg_functions(out, fg, type + ".in");
    st.cells.active.push_front(std::move(c));
    return st.cells.active.front();
  }

  static message input(std::int32_t type, std::int32_t sender, const std::string& content) {
    message m;
    m.mflag = engine::IC_ID;
    m.msg_type = type;
    m.sender = sender;
    m.content = content;
    m.receivers = {1};
    return m;
  }

  std::vector<parameter> params(const std::string& list) {
    return engine::parse_parameter_list(list);
  }

  std::vector<std::string> calls_starting(const std::string& prefix) {
    std::vector<std::string> r;
    for (const std::string& c : hooks.calls) {
      if (c.rfind(prefix, 0) == 0) r.push_back(c);
    }
    return r;
  }
};

// --- parameter resolution --------------------------------------------------

TEST_F(FiringTest, BindingTakesValuesByPosition) {
  ic_record c;
  engine::bind_inputs(params("S5|X1|I3"), std::string("a|b|c"), c);
  ASSERT_EQ(1u, c.bindings.size()) << "constants bind nothing but take their value";
  EXPECT_EQ("X1", c.bindings[0].name);
  EXPECT_EQ("b", c.bindings[0].value);

  c.bindings.clear();
  engine::bind_inputs(params("X1|X2|X3|DB1"), std::string("a|b"), c);
  ASSERT_EQ(2u, c.bindings.size()) << "a short content binds the leading parameters";
  EXPECT_EQ("a", *engine::find_binding(c, "X1"));
  EXPECT_EQ("b", *engine::find_binding(c, "X2"));
  EXPECT_EQ(nullptr, engine::find_binding(c, "X3"));

  c.bindings.clear();
  engine::bind_inputs(params("X1|X2|DB3"), std::string("a||c"), c);
  EXPECT_EQ("", *engine::find_binding(c, "X2")) << "two bars give an empty value";
  EXPECT_EQ("c", *engine::find_binding(c, "DB3")) << "database accesses bind too";

  engine::bind_inputs(params("X1"), std::string("second"), c);
  EXPECT_EQ("second", *engine::find_binding(c, "X1")) << "the latest binding wins";
  parameter x1 = params("X1")[0];
  EXPECT_EQ("second", engine::resolve(st, x1, c, -1));

  c.bindings.clear();
  engine::bind_inputs(params("X1"), std::nullopt, c);
  EXPECT_TRUE(c.bindings.empty()) << "no content, no values";
}

TEST_F(FiringTest, ResolveByFlag) {
  ic_record c;
  c.bindings = {{"X1", "bound"}, {"DB2", "row"}};
  EXPECT_EQ("5", engine::resolve(st, params("S5")[0], c, 2));
  EXPECT_EQ("bound", engine::resolve(st, params("X1")[0], c, 2));
  EXPECT_EQ("v:Y2", engine::resolve(st, params("Y2")[0], c, 2));
  EXPECT_EQ("row", engine::resolve(st, params("DB2")[0], c, 2));
  EXPECT_EQ("db:DB9", engine::resolve(st, params("DB9")[0], c, 4));
  EXPECT_EQ((std::vector<std::string>{"userdef_v Y2 2", "userdef_db DB9 4"}), hooks.calls);

  parameter odd = params("Q7")[0];
  EXPECT_EQ(0, odd.flag);
  EXPECT_EQ("", engine::resolve(st, odd, c, -1));
  EXPECT_EQ("resolve(): Unexpected parameter flag\n", page.str());
}

TEST_F(FiringTest, FunctionCallsAndTheirArguments) {
  ic_record c;
  EXPECT_EQ("f:G0", engine::resolve(st, params("G0(I3)")[0], c, 1));
  EXPECT_EQ("f:H1", engine::resolve(st, params("H1()")[0], c, -1));
  EXPECT_EQ("f:G2", engine::resolve(st, params("G2(G1(X1,X2),I3,DB4)")[0], c, 5));
  EXPECT_EQ((std::vector<std::string>{"userdef_f G0 1 ( I3:101 )", "userdef_f H1 -1 ( )",
                                      "userdef_f G2 5 ( G1(X1,X2):103 I3:101 DB4:104 )"}),
            hooks.calls)
      << "a nested call keeps its own argument list";
  std::vector<parameter> inner = engine::call_arguments("G1(X1,X2)");
  ASSERT_EQ(2u, inner.size());
  EXPECT_EQ(2, inner[1].index);
}

TEST_F(FiringTest, ContentsAndAccessors) {
  ic_record c;
  engine::fg_function f;
  c.bindings = {{"X1", "12abc"}, {"X2", "1.5"}};
  EXPECT_EQ("5|12abc|f:G0", engine::build_content(st, params("S5|X1|G0(I3)"), 2, f, c));
  EXPECT_EQ("", engine::build_content(st, {}, 2, f, c));
  std::vector<parameter> args = params("X1|X2|Sword");
  EXPECT_EQ("12abc", engine::par_text(st, 1, args, c));
  EXPECT_EQ(12, engine::par_int(st, 1, args, c));
  EXPECT_DOUBLE_EQ(1.5, engine::par_float(st, 2, args, c));
  EXPECT_EQ(0, engine::par_int(st, 3, args, c)) << "a text that is no number";
  EXPECT_EQ("", engine::par_text(st, 4, args, c)) << "beyond the list";
  EXPECT_EQ("", engine::par_text(st, 0, args, c));
  EXPECT_EQ((std::vector<std::string>{"userdef_f G0 2 ( I3:101 )"}), hooks.calls)
      << "accessors resolve with context -1 and reach no hook here";
}

// --- selection -------------------------------------------------------------

// One transition in state 0 needing a type-3 and a type-5 input (the file
// lists the specs in reverse: chain order is 3 then 5).
const char* const three_five = "0\n1\n2\n5,X2\n3,X1\n0\n0\n0\n0\n";
const char* const three_five_predicate = "0\n1\n2\n5,X2\n3,X1\n1\n7,X1|X2\n0\n0\n0\n";

TEST_F(FiringTest, NewestInputOfTheFirstSpecIsTriedFirst) {
  ic_record& c = add_cell(1, three_five);
  engine::add_input(c, input(3, -1, "old3"));
  engine::add_input(c, input(5, -1, "five"));
  engine::add_input(c, input(3, -1, "new3"));  // inputs: 3, 5, 3 newest first
  engine::fg_function* f = engine::select_function(st, c);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(&c.fg[1], f);
  EXPECT_EQ("new3", f->inputs[0].content);
  EXPECT_EQ("five", f->inputs[1].content);
  EXPECT_EQ("X1", f->inputs[0].params[0].name) << "the spec keeps its template";
  EXPECT_TRUE(c.bindings.empty());
}

TEST_F(FiringTest, PredicateRejectionTriesTheNextCandidate) {
  ic_record& c = add_cell(1, three_five_predicate);
  engine::add_input(c, input(3, -1, "old3"));
  engine::add_input(c, input(5, -1, "five"));
  engine::add_input(c, input(3, -1, "new3"));
  std::vector<std::string> seen;
  hooks.predicate = [&](engine::engine_state&, std::int32_t n, const std::vector<parameter>& p,
                        ic_record& cell) {
    EXPECT_EQ(7, n);
    seen.push_back(*engine::find_binding(cell, "X1") + "+" + *engine::find_binding(cell, "X2"));
    return static_cast<int>(seen.size() == 2 && p.size() == 2);
  };
  engine::fg_function* f = engine::select_function(st, c);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ((std::vector<std::string>{"new3+five", "old3+five"}), seen);
  EXPECT_EQ("old3", f->inputs[0].content);
  EXPECT_TRUE(c.bindings.empty()) << "the predicate's bindings are cleared again";

  hooks.predicate = [](engine::engine_state&, std::int32_t, const std::vector<parameter>&,
                       ic_record&) { return 0; };
  EXPECT_EQ(nullptr, engine::select_function(st, c));
}

TEST_F(FiringTest, TransitionsThatCannotFire) {
  ic_record& c = add_cell(1, std::string(three_five_predicate) + "4\n5\n0\n0\n0\n0\n0\n");
  EXPECT_EQ(nullptr, engine::select_function(st, c)) << "no inputs";
  engine::add_input(c, input(3, -1, "only"));
  EXPECT_EQ(nullptr, engine::select_function(st, c)) << "more specs than inputs";
  EXPECT_TRUE(calls_starting("do_predicate").empty()) << "never considered";
  c.current_state = 4;
  EXPECT_EQ(&c.fg[2], engine::select_function(st, c)) << "no specs: any input will do";
  c.current_state = 9;
  EXPECT_EQ(nullptr, engine::select_function(st, c)) << "no transition of this state";
}

TEST_F(FiringTest, ManyInputsAndSpecsStayWithinBounds) {
  std::string fg = "0\n1\n101\n";
  for (int i = 0; i < 101; ++i) fg += "3\n";
  fg += "0\n0\n0\n0\n0\n1\n3\n3\n3\n3\n0\n0\n0\n0\n";
  ic_record& c = add_cell(1, fg);
  for (int i = 0; i < 150; ++i) engine::add_input(c, input(3, -1, std::to_string(i)));
  engine::fg_function* f = engine::select_function(st, c);
  ASSERT_NE(nullptr, f) << "the function of 101 specs is passed over";
  EXPECT_EQ(&c.fg[2], f);
  // The smallest number with three distinct digits is 2 + 1 n + 0 n^2.
  EXPECT_EQ("147", f->inputs[0].content);
  EXPECT_EQ("148", f->inputs[1].content);
  EXPECT_EQ("149", f->inputs[2].content);
}

// The enumeration of every number a < n^k, as a reference for the search.
std::vector<std::vector<size_t>> all_candidates(const std::vector<std::int32_t>& in,
                                                const std::vector<std::int32_t>& specs) {
  std::vector<std::vector<size_t>> r;
  size_t n = in.size(), k = specs.size(), total = 1;
  for (size_t j = 0; j < k; ++j) total *= n;
  for (size_t a = 0; a < total; ++a) {
    std::vector<size_t> d(k);
    size_t rest = a;
    for (size_t j = 0; j < k; ++j) d[j] = rest % n, rest /= n;
    bool distinct = true;
    for (size_t i = 0; i < k; ++i)
      for (size_t j = i + 1; j < k; ++j) distinct = distinct && d[i] != d[j];
    if (!distinct) continue;
    bool match = true;
    for (size_t j = 0; j < k && match; ++j) match = in[d[j]] == specs[j];
    if (match) r.push_back(d);
  }
  return r;
}

TEST_F(FiringTest, SearchCallsThePredicateInCandidateOrder) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    st.cells.active.clear();
    size_t n = 1 + rng() % 7, k = 1 + rng() % 3;
    std::vector<std::int32_t> types(n), specs(k);
    for (auto& t : types) t = static_cast<std::int32_t>(1 + rng() % 2);
    for (auto& t : specs) t = static_cast<std::int32_t>(1 + rng() % 2);
    std::string fg = "0\n1\n" + std::to_string(k) + "\n";
    for (size_t j = k; j-- > 0;) fg += std::to_string(specs[j]) + ",X" + std::to_string(j) + "\n";
    fg += "1\n1\n0\n0\n0\n";
    ic_record& c = add_cell(1, fg);
    for (size_t i = n; i-- > 0;) engine::add_input(c, input(types[i], -1, std::to_string(i)));

    std::vector<std::vector<size_t>> want = all_candidates(types, specs);
    size_t accept_at = want.empty() ? 0 : rng() % (want.size() + 1);  // size(): none accepted
    std::vector<std::vector<size_t>> seen;
    hooks.predicate = [&](engine::engine_state&, std::int32_t, const std::vector<parameter>&,
                          ic_record& cell) {
      std::vector<size_t> d;
      for (size_t j = 0; j < k; ++j) {
        std::string name = "X";
        name += std::to_string(j);
        d.push_back(std::stoul(*engine::find_binding(cell, name)));
      }
      seen.push_back(d);
      return static_cast<int>(seen.size() == accept_at + 1);
    };
    engine::fg_function* f = engine::select_function(st, c);
    size_t calls = std::min(want.size(), accept_at + 1);
    EXPECT_EQ(std::vector<std::vector<size_t>>(want.begin(), want.begin() + static_cast<long>(calls)),
              seen)
        << "round " << round;
    EXPECT_EQ(accept_at < want.size(), f != nullptr) << "round " << round;
  }
}

// --- outputs ---------------------------------------------------------------

TEST_F(FiringTest, LocalOutputRules) {
  // Output lines in file order: 7; 0 (create); -9 (self); -5 (others of the
  // type); -2 (alternatives).
  ic_record& c = add_cell(
      1, "0\n1\n1\n1\n0\n5\n7\n0,T\n-9\n-5,T\n-2,T\n5\n2,S7|X1\n2\n2\n2:1.5\n2\n0\n"
         "3\n3\n1\n2\n0\n0\n0\n0\n");  // the firing cell accepts type 2 as well
  add_cell(2, "0\n1\n1\n2\n0\n0\n0\n0\n");
  add_cell(3, "0\n1\n1\n2\n0\n0\n0\n0\n");
  ic_record& me = st.cells.active.back();
  ASSERT_EQ(1, me.id);
  me.bindings = {{"X1", "x"}};
  engine::fg_function& f = c.fg[1];
  std::list<engine::output_group> g = engine::make_outputs(st, me, f);
  ASSERT_EQ(6u, g.size());
  auto it = g.begin();
  EXPECT_EQ(7, it->msgs[0].source);
  EXPECT_EQ(engine::IC_ID, it->msgs[0].msg.mflag);
  EXPECT_EQ("7|x", it->msgs[0].msg.content);
  EXPECT_EQ(1, it->msgs[0].msg.sender);
  EXPECT_EQ("north", it->msgs[0].msg.orv_id);
  EXPECT_EQ('s', it->msgs[0].msg.flag);
  EXPECT_EQ("NOT_SPEC", it->msgs[0].msg.itype);
  ++it;
  EXPECT_EQ(0, it->msgs[0].source);
  EXPECT_EQ(engine::IC_TYPE, it->msgs[0].msg.mflag) << "a request to create a cell";
  EXPECT_EQ("T", it->msgs[0].msg.itype);
  EXPECT_EQ("", it->msgs[0].msg.content) << "no template, empty content";
  ++it;
  EXPECT_EQ(-9, it->msgs[0].source);
  EXPECT_EQ(std::vector<std::int32_t>{1}, it->msgs[0].msg.receivers);
  // -5: cells 2 and 3 accept type 2, the firing cell is left out; one group each.
  ++it;
  EXPECT_EQ(3, it->msgs[0].source);
  ++it;
  EXPECT_EQ(2, it->msgs[0].source);
  ++it;
  ASSERT_EQ(3u, it->msgs.size()) << "-2: one group of alternatives, the firing cell among them";
  EXPECT_EQ(3, it->msgs[0].source) << "each new message at the front of the group";
  EXPECT_EQ(1, it->msgs[2].source);
  EXPECT_FLOAT_EQ(0.0f, it->msgs[0].msg.fuzzy) << "fuzzy code 1 selects the maximum, 0.0";
  EXPECT_FLOAT_EQ(0.0f, f.outputs[0].fuzzy) << "replaced in the transition";
  EXPECT_EQ("", page.str());
}

TEST_F(FiringTest, CrossSiteOutputs) {
  // A code 4 towards the sites of find_orv; a site named by variable X1.
  ic_record& c = add_cell(1, "0\n1\n1\n1\n0\n2\n4,T,-3\n0,T,X1\n2\n2,S1\n3\n0\n");
  c.bindings = {{"X1", "east"}};
  hooks.orv_answer.names = {"south", "west"};
  std::list<engine::output_group> g = engine::make_outputs(st, c, c.fg[1]);
  EXPECT_TRUE(g.empty()) << "nothing is queued locally";
  ASSERT_EQ(3u, hooks.sent.size());
  // Output lines are walked in chain order, the reverse of the file.
  EXPECT_EQ("east", hooks.sent[0].site);
  EXPECT_EQ(engine::IC_TYPE, hooks.sent[0].msg.flag) << "receiver 0 asks for a new cell";
  EXPECT_EQ(3, hooks.sent[0].msg.msg_type);
  EXPECT_EQ("south", hooks.sent[1].site);
  EXPECT_EQ("west", hooks.sent[2].site);
  const engine::ext_message& e = hooks.sent[1].msg;
  EXPECT_EQ(engine::KIND_TYPE_NUMBER, e.kind);
  EXPECT_EQ(engine::IC_ID, e.flag);
  EXPECT_EQ(4, e.receiver.ic_id);
  EXPECT_EQ("south", e.receiver.orv_id);
  EXPECT_EQ(2, e.msg_type);
  EXPECT_EQ("1", e.content);
  EXPECT_EQ("T", e.ic_type);
  EXPECT_EQ(1, e.sender.ic_id);
  EXPECT_EQ("north", e.sender.orv_id);
  EXPECT_EQ(4, hooks.sent[2].msg.receiver.ic_id);
}

TEST_F(FiringTest, RulesThatSendNothingOrComplain) {
  ic_record& c = add_cell(1, "0\n1\n1\n1\n0\n5\n4,T,-1\n4,T,-2\n-5,T,-3\n-8,T,-3\n4,T,Q\n"
                             "5\n2\n2\n2\n2\n2:3\n0\n");
  hooks.orv_answer.names = {"south"};
  std::list<engine::output_group> g = engine::make_outputs(st, c, c.fg[1]);
  EXPECT_TRUE(g.empty());
  EXPECT_TRUE(hooks.sent.empty());
  EXPECT_EQ("\n Error fuzzy type\n"
            "Unknown specification for orv: Q\nUnknown specification for orv: Q\n"
            "Unknown -8 with orv_id != 0 \n"
            "Wrong usage for -5 with orv_id != 0 \n",
            page.str());
  EXPECT_FLOAT_EQ(3.0f, c.fg[1].outputs[0].fuzzy) << "an unknown code leaves the value";
}

TEST_F(FiringTest, FindIcReceivers) {
  ic_record& c = add_cell(1, "0\n1\n1\n1\n0\n2\n-3\n-4\n2\n5\n5\n0\n");
  hooks.ic_answer.ids = {8, 9};
  std::list<engine::output_group> g = engine::make_outputs(st, c, c.fg[1]);
  ASSERT_EQ(3u, g.size());
  EXPECT_EQ(9, g.front().msgs[0].source) << "-3: a group each, each put at the front";
  EXPECT_EQ(1u, std::next(g.begin())->msgs.size());
  ASSERT_EQ(2u, g.back().msgs.size()) << "-4: one group";
  EXPECT_EQ(9, g.back().msgs[0].source) << "each new message at the front of its group";
  EXPECT_EQ(2u, calls_starting("find_ic 1 5").size());
}

TEST_F(FiringTest, ReplyFiring) {
  ic_record& c = add_cell(1, "");
  c.current_state = 4;
  engine::fg_function& head = c.fg[0];
  head.inputs[0].content = "3";
  c.buffer[2] = {5, 11};
  c.buffer[7] = {2, 12};
  std::list<engine::output_group> g = engine::make_outputs(st, c, head);
  EXPECT_EQ(4, head.next_state) << "the cell stays in its state";
  ASSERT_EQ(2u, g.size());
  EXPECT_EQ(12, g.front().msgs[0].source) << "the higher slot's reply first";
  EXPECT_EQ(11, g.back().msgs[0].source);
  const message& r = g.front().msgs[0].msg;
  EXPECT_EQ(-1, r.msg_type);
  EXPECT_EQ("2", r.content);
  EXPECT_EQ(1, r.sender);
  EXPECT_EQ(engine::IC_ID, r.mflag);
  EXPECT_EQ(std::vector<std::int32_t>{12}, r.receivers);
  EXPECT_EQ(engine::free_slot, c.buffer[2].source);
  EXPECT_EQ(engine::free_slot, c.buffer[7].source);

  c.buffer[0] = {5, 11};
  for (const char* content : {"0", "abc", ""}) {
    head.inputs[0].content = content;
    EXPECT_TRUE(engine::make_outputs(st, c, head).empty()) << content;
  }
  head.inputs[0].content.reset();
  EXPECT_TRUE(engine::make_outputs(st, c, head).empty());
  EXPECT_EQ(11, c.buffer[0].source) << "no reply, the sender still waits";
}

TEST_F(FiringTest, ActionsRunInOrder) {
  ic_record& c = add_cell(1, "0\n1\n0\n0\n0\n0\n3\n4,X1\n2\n9,S1|S2\n");
  std::vector<std::string> args;
  hooks.action = [&](engine::engine_state& s, std::int32_t, const std::vector<parameter>& p,
                     ic_record& cell) {
    args.push_back(engine::par_text(s, static_cast<int>(p.size()), p, cell));
    return 0;
  };
  c.bindings = {{"X1", "x"}};
  engine::run_actions(st, c.fg[1], c);
  EXPECT_EQ((std::vector<std::string>{"do_actions 4 cell 1", "do_actions 2 cell 1",
                                      "do_actions 9 cell 1"}),
            calls_starting("do_actions"));
  EXPECT_EQ((std::vector<std::string>{"x", "", "2"}), args);
}

}  // namespace
