#include "engine/population.h"

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/test_hooks.h"
#include "gtest/gtest.h"

namespace {

using engine::which_list;

// A cell of type NOTE with no names, no lists and the note `text`, as a
// save writes it.
std::string block(int id, const std::string& text) {
  return "id: " + std::to_string(id) +
         "\nic type: NOTE\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
         "ic symbolic name: \nic sys name -- server id: \nic sys name -- orv id: \n"
         "ic sys name -- ic type: \nic sys name -- ic id: 0\nic sys name -- flag: \n"
         "input list: 0\noutput list: 0\nsame ic: 0\n" +
         text + "\n";
}

// A population on its own: a codec over the fake application and the
// functions of NOTE given in memory; no run state and no files.
class PopulationTest : public ::testing::Test {
 protected:
  PopulationTest() { functions.set("NOTE", {}); }

  std::ostringstream page;
  formdecode::output out{page};
  engine_test::fake_hooks hooks;
  engine::fg_library functions{out};
  engine::cell_codec codec{hooks, functions};
  engine::population cells{codec};
};

TEST_F(PopulationTest, SlotsReachNothingAndUnreachedCellsSaveAsStored) {
  const std::string a = block(7, "note seven");
  const std::string b = block(8, "note eight");
  cells.load(a + b, engine::store_reading::lazy, 0);
  EXPECT_EQ((std::vector<std::string>{"new_internal_mm NOTE", "load_mm 7", "save_mm 7",
                                      "new_internal_mm NOTE", "load_mm 8", "save_mm 8"}),
            hooks.calls)
      << "the load reads each cell once and learns its saved text";
  hooks.calls.clear();

  // A const view shows slots: ids, types and states, no record.
  const engine::population& view = cells;
  std::vector<std::int32_t> ids;
  for (const engine::cell_slot& s : view.active) {
    ids.push_back(s.id());
    EXPECT_EQ("NOTE", s.ic_type());
    EXPECT_FALSE(s.reached());
  }
  EXPECT_EQ((std::vector<std::int32_t>{8, 7}), ids) << "the last cell of the text first";
  EXPECT_TRUE(cells.locate(7, which_list::active));
  EXPECT_FALSE(cells.locate(7, which_list::sleeping));
  EXPECT_FALSE(view.active.back().reached()) << "locating a cell does not read it";

  std::string fresh;
  std::vector<std::string_view> pieces = cells.store_pieces("", fresh);
  EXPECT_EQ((std::vector<std::string_view>{b, a}), pieces);
  EXPECT_TRUE(fresh.empty()) << "no cell was written again";
  EXPECT_TRUE(hooks.calls.empty()) << "nothing of the application ran";

  // Reaching one cell reads that block alone, quietly, and a save writes it.
  engine::ic_record& eight = *cells.active.begin();
  EXPECT_EQ(8, eight.id);
  EXPECT_TRUE(view.active.front().reached());
  EXPECT_FALSE(view.active.back().reached());
  EXPECT_EQ((std::vector<std::string>{"new_internal_mm NOTE", "load_mm 8"}), hooks.calls);
  static_cast<engine_test::note*>(eight.mm.get())->text = "changed";
  pieces = cells.store_pieces("", fresh);
  EXPECT_EQ((std::vector<std::string_view>{block(8, "changed"), a}), pieces);
  EXPECT_EQ("save_mm 8", hooks.calls.back());
}

TEST_F(PopulationTest, ABlockSavedOtherwiseIsWrittenAsASaveWouldWriteIt) {
  // The type's trailing blank is not kept by a save.
  std::string a = block(7, "note seven");
  a.replace(a.find("NOTE"), 4, "NOTE ");
  cells.load(a, engine::store_reading::lazy, 0);
  std::string fresh;
  std::vector<std::string_view> pieces = cells.store_pieces("", fresh);
  EXPECT_EQ((std::vector<std::string_view>{block(7, "note seven")}), pieces);
  EXPECT_FALSE(std::as_const(cells.active).front().reached()) << "the saved text was made at load";
}

}  // namespace

namespace {

// Calls of the application other than writing a block.
std::vector<std::string> reports(const std::vector<std::string>& calls) {
  std::vector<std::string> r;
  for (const std::string& c : calls) {
    if (c.rfind("save_mm ", 0) != 0) r.push_back(c);
  }
  return r;
}

TEST_F(PopulationTest, ATrustedLoadReportsAndSavesAsTheFullOne) {
  // Cell 9 holds two inputs, which each load reverses: its block is never
  // the one a save writes, and a fingerprint names it for reading in full.
  engine::ic_record nine;
  nine.id = 9;
  nine.ic_type = "NOTE";
  nine.mm = hooks.new_internal_mm("NOTE");
  engine::message m;
  m.sender = 3;
  m.msg_type = 1;
  engine::add_input(nine, m);
  m.msg_type = 2;
  engine::add_input(nine, m);
  engine::store_writer w;
  codec.write(w, nine);
  const std::string text = block(7, "seven") + w.str() + block(8, "eight");

  hooks.calls.clear();
  cells.load(text, engine::store_reading::lazy, 0);
  const std::vector<std::string> in_full = hooks.calls;
  std::string fresh;
  std::vector<std::uint32_t> unsettled;
  std::vector<std::string> saved;
  for (std::string_view p : cells.store_pieces("", fresh, &unsettled)) saved.emplace_back(p);
  EXPECT_EQ((std::vector<std::uint32_t>{1}), unsettled) << "the middle block";
  std::vector<std::int32_t> inputs;
  for (const engine::cell_slot& s : std::as_const(cells.active)) {
    inputs.push_back(s.no_inputs() ? 0 : 1);
  }

  hooks.calls.clear();
  cells.load(text, engine::store_reading::lazy, 0, &unsettled);
  EXPECT_EQ(reports(in_full), reports(hooks.calls)) << "the same reports in the same order";
  EXPECT_EQ(1, std::count(hooks.calls.begin(), hooks.calls.end(), "save_mm 9"));
  EXPECT_EQ(hooks.calls.size(), reports(hooks.calls).size() + 1)
      << "only the block read in full is written again";
  std::vector<std::string> again;
  for (std::string_view p : cells.store_pieces("", fresh, &unsettled)) again.emplace_back(p);
  EXPECT_EQ(saved, again);
  EXPECT_EQ((std::vector<std::uint32_t>{1}), unsettled);
  std::vector<std::int32_t> inputs_again;
  for (const engine::cell_slot& s : std::as_const(cells.active)) {
    inputs_again.push_back(s.no_inputs() ? 0 : 1);
  }
  EXPECT_EQ(inputs, inputs_again);
  EXPECT_EQ(2u, cells.reach(*std::next(std::as_const(cells.active).begin())).inputs.size());
}

}  // namespace
