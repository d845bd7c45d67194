#include "engine/population.h"

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
