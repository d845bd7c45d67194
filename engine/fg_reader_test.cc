#include "engine/fg_reader.h"

#include "engine/test_hooks.h"
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using engine::fg_function;
using formdecode::run_exit;

class FgReaderTest : public ::testing::Test, public engine_test::engine_fixture {
 protected:
  std::vector<fg_function> parse(const std::string& text) {
    return engine::parse_fg_functions(out, text, "T.in");
  }

  // The status a malformed file ends the run with.
  int failure(const std::string& text) {
    try {
      parse(text);
    } catch (const run_exit& e) {
      return e.status;
    }
    ADD_FAILURE() << "no failure for:\n" << text;
    return 1000;
  }
};

std::string header_note() {
  return "Note: no_output_ic < 0 : old spec of fg format!!\n"
         "      The result may be not what you expect!!\n";
}

// One entry: state 1 to 2, the given input lines, no predicate, one output
// IC line, one output message, no actions.
std::string entry_with_inputs(const std::string& inputs, int n) {
  return "1\n2\n" + std::to_string(n) + "\n" + inputs + "0\n1\n5\n1\n3\n0\n";
}

TEST_F(FgReaderTest, CommentsAndBlankLinesGiveTheHeadFunctionAlone) {
  std::vector<fg_function> chain = parse("// nothing here\n\n   \n  // indented\n");
  ASSERT_EQ(1u, chain.size());
  const fg_function& head = chain[0];
  EXPECT_EQ(1, head.input_count);
  EXPECT_EQ(1, head.inputs_needed);
  ASSERT_EQ(1u, head.inputs.size());
  EXPECT_EQ(-1, head.inputs[0].msg_type);
  EXPECT_EQ(engine::IC_ID, head.inputs[0].mflag);
  EXPECT_EQ("rev", head.inputs[0].content);
  EXPECT_FALSE(head.predicate);
  EXPECT_TRUE(head.output_ics.empty());
  EXPECT_TRUE(head.outputs.empty());
  EXPECT_TRUE(head.actions.empty());
  EXPECT_EQ("", page.str());
}

TEST_F(FgReaderTest, FullEntry) {
  std::vector<fg_function> chain = parse(
      "// a transition\n"
      "3 // current state\n"
      "4\n"
      "2\n"
      "4:0.5,X1|S2\n"
      "1\n"
      "1\n"
      "2,X1|I7\n"
      "2\n"
      "5\n"
      "-3,VANTLE,X2 // to another site\n"
      "2\n"
      "2,X1\n"
      "3:1.5\n"
      "2\n"
      "0,F1.5|G3|DB1|Q\n"
      "9\n");
  ASSERT_EQ(2u, chain.size());
  const fg_function& f = chain[1];
  EXPECT_EQ(3, f.current_state);
  EXPECT_EQ(4, f.next_state);
  EXPECT_EQ(2, f.input_count);
  EXPECT_EQ(2, f.inputs_needed);
  ASSERT_EQ(2u, f.inputs.size());
  EXPECT_EQ(1, f.inputs[0].msg_type) << "input specs in reverse file order";
  const engine::message& in = f.inputs[1];
  EXPECT_EQ(4, in.msg_type);
  EXPECT_FLOAT_EQ(0.5f, in.fuzzy);
  EXPECT_EQ(0, in.mflag) << "input specs leave mflag unset";
  ASSERT_EQ(2u, in.params.size());
  EXPECT_EQ(1, in.params[0].index);
  EXPECT_EQ("X1", in.params[0].name);
  EXPECT_EQ(engine::PAR_VARIABLE, in.params[0].flag);
  EXPECT_FALSE(in.params[0].content);
  EXPECT_EQ(2, in.params[1].index);
  EXPECT_EQ(engine::PAR_CONSTANT, in.params[1].flag);
  EXPECT_EQ("2", in.params[1].content);

  ASSERT_TRUE(f.predicate);
  EXPECT_EQ(2, f.predicate->number);
  ASSERT_EQ(2u, f.predicate->params.size());
  EXPECT_EQ("7", f.predicate->params[1].content);

  EXPECT_EQ(2, f.output_ic_count);
  EXPECT_EQ(2, f.output_ic_count_copy);
  EXPECT_EQ((std::vector<std::int32_t>{-3, 5}), f.output_ics);
  EXPECT_EQ((std::vector<std::string>{"VANTLE", "NOT_SPEC"}), f.output_ic_types);
  EXPECT_EQ((std::vector<std::string>{"X2", "0"}), f.output_ic_names);
  EXPECT_EQ(2, f.output_msg_count);
  ASSERT_EQ(2u, f.outputs.size());
  EXPECT_EQ(3, f.outputs[0].msg_type) << "pairs with output IC -3";
  EXPECT_FLOAT_EQ(1.5f, f.outputs[0].fuzzy);
  EXPECT_EQ(engine::IC_ID, f.outputs[0].mflag);
  EXPECT_EQ(2, f.outputs[1].msg_type);
  EXPECT_EQ("X1", f.outputs[1].params.at(0).name);

  ASSERT_EQ(2u, f.actions.size());
  EXPECT_EQ(0, f.actions[0].number) << "actions keep file order";
  EXPECT_EQ(9, f.actions[1].number);
  const auto& p = f.actions[0].params;
  ASSERT_EQ(4u, p.size());
  EXPECT_EQ(engine::PAR_CONSTANT, p[0].flag);
  EXPECT_EQ("1.5", p[0].content);
  EXPECT_EQ(engine::PAR_FUNCTION, p[1].flag);
  EXPECT_EQ(engine::PAR_DATABASE, p[2].flag);
  EXPECT_EQ(0, p[3].flag) << "unknown first character: no flag";
  EXPECT_TRUE(f.predicate_conditions.empty());
  EXPECT_EQ("", page.str());
}

TEST_F(FgReaderTest, OutputIcLines) {
  std::vector<fg_function> chain = parse(
      "1\n2\n0\n0\n-6\n"
      "5\n"
      "5, /comment-like\n"
      "5,TYPE\n"
      "5,TYPE, /x\n"
      "5,T^x,a,b c\n"
      "5,,name\n"
      "6\n1\n1\n1\n1\n1\n1\n0\n");
  ASSERT_EQ(2u, chain.size());
  const fg_function& f = chain[1];
  EXPECT_EQ(-6, f.output_ic_count);
  EXPECT_EQ(header_note(), page.str());
  // Reverse file order.
  EXPECT_EQ((std::vector<std::string>{"NOT_SPEC", "T", "TYPE", "TYPE", "NOT_SPEC", "NOT_SPEC"}),
            f.output_ic_types);
  EXPECT_EQ((std::vector<std::string>{"name", "a,b", "0", "0", "0", "0"}), f.output_ic_names);
  EXPECT_EQ(6u, f.outputs.size());
}

TEST_F(FgReaderTest, NegativeOutputIcCountPrintsTheNote) {
  std::vector<fg_function> chain = parse("1\n2\n0\n0\n-2\n7\n8\n2\n1\n1\n0\n");
  EXPECT_EQ(-2, chain[1].output_ic_count);
  EXPECT_EQ((std::vector<std::int32_t>{8, 7}), chain[1].output_ics);
  EXPECT_EQ(header_note(), page.str());
}

TEST_F(FgReaderTest, SpecLineForms) {
  std::vector<fg_function> chain = parse(entry_with_inputs(
      "3\n"
      "3,X1\n"
      "3 ,X1\n"
      "3,a:b\n"
      "3:0.25\n"
      "3:0.25,S:x\n",
      6));
  const auto& in = chain[1].inputs;  // reverse order
  ASSERT_EQ(6u, in.size());
  EXPECT_EQ("S:x", in[0].params.at(0).name) << "a colon only after the fuzzy value";
  EXPECT_FLOAT_EQ(0.25f, in[1].fuzzy);
  EXPECT_TRUE(in[1].params.empty());
  EXPECT_TRUE(in[2].params.empty()) << "a colon elsewhere stops the line";
  EXPECT_FLOAT_EQ(0.0f, in[2].fuzzy);
  EXPECT_TRUE(in[3].params.empty()) << "the comma must follow the number";
  EXPECT_EQ(1u, in[4].params.size());
  EXPECT_TRUE(in[5].params.empty());
}

TEST_F(FgReaderTest, EntriesAfterBlankAndCommentLines) {
  std::string one = "1\n2\n0\n0\n0\n0\n0\n";
  std::vector<fg_function> chain = parse(one + "\n// next\n   \n" + "7\n8\n0\n0\n0\n0\n0\n");
  ASSERT_EQ(3u, chain.size());
  EXPECT_EQ(1, chain[1].current_state);
  EXPECT_EQ(7, chain[2].current_state);
  EXPECT_EQ(8, chain[2].next_state);
}

TEST_F(FgReaderTest, PrematureEndNamesTheStep) {
  struct {
    std::string text;
    std::string headline;
    std::string last;
  } cases[] = {
      {"1\n", "Illegal fg functions format: next state", "1"},
      {"1\n2\n", "Illegal fg functions format: # of input messages", "2"},
      {"1\n2\n2\n3\n", "Illegal fg functions format: input message", "3"},
      {"1\n2\n0\n", "Illegal fg functions format: # of predicate function", "0"},
      {"1\n2\n0\n1\n", "Illegal fg functions format: predicate function", "1"},
      {"1\n2\n0\n0\n", "Illegal fg functions format: # of output ic's", "0"},
      {"1\n2\n0\n0\n1\n", "Illegal fg functions format: output ic", "1"},
      {"1\n2\n0\n0\n1\n5\n", "Illegal fg functions format: # of output messages", "5"},
      {"1\n2\n0\n0\n1\n5\n1\n", "Illegal fg functions format: output messages", "1"},
      {"1\n2\n0\n0\n0\n0\n", "Illegal fg functions format: # of actions", "0"},
      {"1\n2\n0\n0\n0\n0\n2\n4\n", "Illegal fg functions format: action", "4"},
      {"1\n2\n0\n2\n", "Illegal fg functions format: 0 or 1 predicate function supported only",
       "2"},
      // A value line without a number is refused with the headline of its step.
      {"1\n\n", "Illegal fg functions format: next state", ""},
      {"1\n2\n1\nabc\n", "Illegal fg functions format: input message", "abc"},
      {"x\n", "Illegal fg functions format: current state", "x"},
      {"1\n2\n0\n0\n0\n// only a comment\n", "Illegal fg functions format: # of output messages",
       "// only a comment"},
  };
  for (const auto& c : cases) {
    page.str("");
    EXPECT_EQ(-1, failure(c.text)) << c.text;
    EXPECT_EQ("***** " + c.headline + " *****\n" + c.last + "\n</body></html>", page.str())
        << c.text;
  }
}

TEST_F(FgReaderTest, LongParameterListIsRefused) {
  std::string list98 = "S" + std::string(97, 'a');
  std::vector<fg_function> chain = parse(entry_with_inputs("3," + list98 + "\n", 1));
  EXPECT_EQ(list98, chain[1].inputs[0].params.at(0).name);
  page.str("");
  std::string line = "3," + list98 + "b";
  EXPECT_EQ(-1, failure(entry_with_inputs(line + "\n", 1)));
  EXPECT_EQ("***** Illegal fg functions format: input message *****\n" + line +
                "\n</body></html>",
            page.str());
}

TEST_F(FgReaderTest, UnequalCountsEndWithStatusZero) {
  EXPECT_EQ(0, failure("1\n2\n0\n0\n1\n5\n2\n"));
  EXPECT_EQ("# of ics and # of messages are not equal in T.in\n", page.str());
  page.str("");
  EXPECT_EQ(0, failure("1\n2\n0\n0\n-1\n5\n-1\n")) << "a negative message count never matches";
}

class FgFileTest : public FgReaderTest {
 protected:
  FgFileTest() : cd_(dir_.path()) {}
  test_util::scoped_temp_dir dir_;
  engine_test::scoped_chdir cd_;
};

TEST_F(FgFileTest, MissingFileEndsTheRun) {
  EXPECT_EQ("VANTLE.in", engine::fg_file_name("VANTLE"));
  try {
    st.functions.copy_of("VANTLE");
    FAIL();
  } catch (const run_exit& e) {
    EXPECT_EQ(-1, e.status);
  }
  EXPECT_EQ("***** No such file: VANTLE.in *****\n\n</body></html>", page.str());
  EXPECT_EQ(std::nullopt, test_util::read_file(dir_ / "dump_file"));
}

TEST_F(FgFileTest, ReadOncePerTypeAndCopiedPerCell) {
  test_util::write_file(dir_ / "A.in", "1\n2\n0\n0\n0\n0\n0\n");
  std::vector<fg_function> first = st.functions.copy_of("A");
  first[1].next_state = 99;  // a firing changes its own copy only
  test_util::write_file(dir_ / "A.in", "garbage\n");
  std::vector<fg_function> second = st.functions.copy_of("A");
  ASSERT_EQ(2u, second.size());
  EXPECT_EQ(2, second[1].next_state);
}

TEST_F(FgFileTest, TypeNamesNoPath) {
  test_util::write_file(dir_ / "sub/B.in", "");
  EXPECT_THROW(st.functions.copy_of("sub/B"), run_exit);
  EXPECT_EQ("***** No such file: sub/B.in *****\n\n</body></html>", page.str());
}

}  // namespace
