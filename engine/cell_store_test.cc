#include "engine/cell_store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "engine/fg_reader.h"
#include "engine/ic_manager.h"
#include "engine/store_fingerprint.h"
#include "engine/model.h"
#include "engine/senders.h"
#include "engine/test_hooks.h"
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using engine::ic_record;
using engine::message;
using formdecode::run_exit;
using test_util::read_file;
using test_util::write_file;

// The header of a cell of type NOTE with no names.
std::string header(int id, const std::string& type = "NOTE") {
  return "id: " + std::to_string(id) + "\nic type: " + type +
         "\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
         "ic symbolic name: \nic sys name -- server id: \nic sys name -- orv id: \n"
         "ic sys name -- ic type: \nic sys name -- ic id: 0\nic sys name -- flag: \n";
}

std::string empty_lists() { return "input list: 0\noutput list: 0\nsame ic: 0\n"; }

class CellStoreTest : public ::testing::Test, public engine_test::engine_fixture {
 protected:
  CellStoreTest() : cd_(dir_.path()) {
    write_file(dir_ / "NOTE.in", "");
    write_file(dir_ / "PLAIN.in", "");
  }

  ic_record& add(std::int32_t id, const std::string& type = "NOTE") {
    ic_record c;
    c.id = id;
    c.ic_type = type;
    c.fg = st.functions.copy_of(type);
    c.mm = hooks.new_internal_mm(type);
    st.cells.active.push_back(std::move(c));
    return st.cells.active.back();
  }

  std::vector<std::int32_t> active_ids() const {
    std::vector<std::int32_t> ids;
    for (const engine::cell_slot& c : st.cells.active) ids.push_back(c.id());
    return ids;
  }

  // Ends with the status of a run that a load or save ended.
  int status_of(void (*op)(engine::engine_state&)) {
    try {
      op(st);
    } catch (const run_exit& e) {
      return e.status;
    }
    return 1000;
  }

  test_util::scoped_temp_dir dir_;
  engine_test::scoped_chdir cd_;
};

// A store in a site's directory other than the working one: everything
// is read and written there, and named as the site names it.
TEST_F(CellStoreTest, TheStoreOfASiteIsReachedThroughItsDirectory) {
  const std::string site = dir_ / "site";
  ASSERT_EQ(0, ::mkdir(site.c_str(), 0755));
  write_file(site + "/HERE.in", "");
  st.dir = platform::site_dir(site);
  add(1, "HERE");
  engine::save_all_cells(st);
  EXPECT_EQ(header(1, "HERE") + empty_lists(), read_file(site + "/file.ic"));
  EXPECT_TRUE(read_file(site + "/BACKUP/file.ic.b0"));
  EXPECT_FALSE(read_file(dir_ / "file.ic"));
  EXPECT_FALSE(engine::load_cells(st));
  EXPECT_EQ(std::vector<std::int32_t>{1}, active_ids());
  write_file(site + "/file.ic", "not a store\n");
  std::optional<engine::store_damage> d = engine::load_cells(st);
  ASSERT_TRUE(d);
  EXPECT_EQ(0u, d->text().find("The cell store file.ic is damaged at line 1: ")) << d->text();
}

TEST_F(CellStoreTest, EmptyCellLayout) {
  add(1, "PLAIN");
  engine::save_all_cells(st);
  EXPECT_EQ(header(1, "PLAIN") + empty_lists(), read_file(dir_ / "file.ic"))
      << "a cell without application memory has an empty block";
  EXPECT_TRUE(read_file(dir_ / "BACKUP/file.ic.b0"));
}

TEST_F(CellStoreTest, SaveAndLoadReverseTheOrder) {
  add(1);
  add(2);
  dynamic_cast<engine_test::note&>(*st.cells.active.front().mm).text = "one";
  engine::save_all_cells(st);
  std::string first = *read_file(dir_ / "file.ic");
  EXPECT_EQ(header(1) + empty_lists() + "one\n" + header(2) + empty_lists() + "empty\n", first);

  engine::load_all_cells(st);
  EXPECT_EQ((std::vector<std::int32_t>{2, 1}), active_ids());
  EXPECT_EQ("one", dynamic_cast<engine_test::note&>(*st.cells.active.back().mm).text);
  engine::save_all_cells(st);
  engine::load_all_cells(st);
  engine::save_all_cells(st);
  EXPECT_EQ(first, read_file(dir_ / "file.ic")) << "two cycles give the first order back";
}

TEST_F(CellStoreTest, OnlyAStoreThatMatchesItsFingerprintIsTrusted) {
  add(1);
  add(2);
  engine::save_all_cells(st);
  const std::string saved = *read_file(dir_ / "file.ic");
  std::optional<std::string> print = read_file(dir_ / engine::fingerprint_file);
  ASSERT_TRUE(print);
  ASSERT_TRUE(engine::store_fingerprint::parse(*print));
  EXPECT_TRUE(engine::store_fingerprint::parse(*print)->matches(saved));
  EXPECT_EQ(2u, engine::store_fingerprint::parse(*print)->read_in_full.size())
      << "both cells were records: " << *print;

  // Saved again without reaching a cell: every block is known to read and
  // save as it stands, and the next load reads none of them in full.
  engine::load_all_cells(st);
  engine::save_all_cells(st);
  EXPECT_EQ(0u, engine::store_fingerprint::parse(*read_file(dir_ / engine::fingerprint_file))
                    ->read_in_full.size());
  hooks.calls.clear();
  engine::load_all_cells(st);
  EXPECT_EQ((std::vector<std::string>{"new_internal_mm NOTE", "load_mm 2",
                                      "new_internal_mm NOTE", "load_mm 1"}),
            hooks.calls)
      << "the same reports in store order, and no block written again";

  // The same store put back by hand with one byte changed is read in full.
  std::string changed = *read_file(dir_ / "file.ic");
  changed.replace(changed.find("empty"), 5, "EMPTY");
  write_file(dir_ / "file.ic", changed);
  hooks.calls.clear();
  engine::load_all_cells(st);
  EXPECT_EQ(2, std::count_if(hooks.calls.begin(), hooks.calls.end(), [](const std::string& c) {
              return c.rfind("save_mm ", 0) == 0;
            })) << "each block read whole and written again";

  // A damaged store is refused as before, whatever its fingerprint says.
  write_file(dir_ / "file.ic", header(7) + "input list: x\n");
  EXPECT_EQ(1, status_of(engine::load_all_cells));
  EXPECT_NE(std::string::npos, page.str().find("The cell store file.ic is damaged at line 12"))
      << page.str();
}

TEST_F(CellStoreTest, FullCellRoundTrip) {
  ic_record& c = add(5);
  c.current_state = 3;
  c.initial_state = 1;
  c.max_time = 0;
  c.sym_name = "my doc  two";
  c.sys_name = {"srv1", "north", "NOTE", 5, 's'};
  message a;
  a.mflag = engine::IC_ID;
  a.msg_type = 2;
  a.sender = 4;
  a.sym_names = {"target"};
  a.server_id = "srv1";
  a.orv_id = "north";
  a.itype = "NOTE";
  a.receivers = {5};
  a.flag = 's';
  a.content = "x|line one\nline two|NULL";
  a.fuzzy = 0.7f;
  engine::add_input(c, a);
  message b;
  b.mflag = engine::IC_TYPE;
  b.msg_type = 1;
  b.sender = -1;
  b.content = "NULL";  // the text, not an absent content
  b.flag = 'c';
  engine::add_input(c, b);
  message o;
  o.msg_type = 7;
  o.mflag = engine::IC_ID;
  engine::output_group g1, g2;
  g1.msgs = {{8, o}, {9, o}};
  g2.msgs = {{10, o}};
  c.outputs = {g1, g2};
  engine::set_same_ic(c, 7, 12);
  engine::set_same_ic(c, 49, 3);

  engine::save_all_cells(st);
  std::string first = *read_file(dir_ / "file.ic");
  EXPECT_NE(std::string::npos, first.find("\nsame ic: 2\n7 12\n49 3\n"));
  EXPECT_NE(std::string::npos, first.find("output list: 2\n2\n8 7 1\n9 7 1\n1\n10 7 1\n"));
  EXPECT_NE(std::string::npos,
            first.find("input list: 2\n-1 1 2\n-1\n\n\n\nNULL\n\nc\nNULL\n0.000000\n"
                       "4 2 1\n4\ntarget\nsrv1\nnorth\nNOTE\n5\ns\n"
                       "%%x|line one%0Aline two|NULL\n0.700000\n"))
      << first;

  engine::load_all_cells(st);
  ASSERT_EQ(1u, st.cells.active.size());
  const ic_record& l = st.cells.active.front();
  EXPECT_EQ(3, l.current_state);
  EXPECT_EQ(1, l.initial_state);
  EXPECT_EQ(0, l.max_time);
  EXPECT_EQ("my doc  two", l.sym_name);
  EXPECT_EQ(5, l.sys_name.ic_id);
  EXPECT_EQ('s', l.sys_name.flag);
  ASSERT_EQ(2u, l.inputs.size());
  const message& la = l.inputs.front().msg;  // reversed: a is first now
  EXPECT_EQ(4, l.inputs.front().source);
  EXPECT_EQ("x|line one\nline two|NULL", la.content);
  EXPECT_EQ((std::vector<std::string>{"target"}), la.sym_names);
  EXPECT_EQ((std::vector<std::int32_t>{5}), la.receivers);
  EXPECT_FLOAT_EQ(0.7f, la.fuzzy);
  const message& lb = l.inputs.back().msg;
  EXPECT_FALSE(lb.content) << "the text NULL is written NULL and reads back absent";
  EXPECT_FALSE(lb.itype);
  EXPECT_TRUE(lb.sym_names.empty());
  EXPECT_TRUE(lb.receivers.empty());
  ASSERT_EQ(2u, l.outputs.size());
  EXPECT_EQ(1u, l.outputs.front().msgs.size()) << "groups reversed";
  const auto& g = l.outputs.back().msgs;
  ASSERT_EQ(2u, g.size());
  EXPECT_EQ(9, g[0].source) << "messages within a group reversed";
  EXPECT_EQ(5, g[0].msg.sender) << "an output came from its cell";
  EXPECT_EQ((std::vector<std::int32_t>{9}), g[0].msg.receivers);
  EXPECT_EQ(12, l.same_ic[7]);
  EXPECT_EQ(-1, l.same_ic_reply);
  for (const auto& slot : l.buffer) EXPECT_EQ(engine::free_slot, slot.source);

  engine::save_all_cells(st);
  engine::load_all_cells(st);
  engine::save_all_cells(st);
  EXPECT_EQ(first, read_file(dir_ / "file.ic"));
}

TEST_F(CellStoreTest, FormatRulesOnLoad) {
  write_file(dir_ / "file.ic",
             "id: 3\nic type: NOTE extra\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
             "ic symbolic name: with  spaces \nic sys name -- server id: srv 1\n"
             "ic sys name -- orv id: north\nic sys name -- ic type: NOTE\n"
             "ic sys name -- ic id: 3\nic sys name -- flag: s\n"
             "input list: 2\n1 2 1\n-1\nname  \nsrv\nnorth\nNULL\n3\ns\nNULL\n0.7\n"
             "1 2 1\n-1\n\nsrv\nnorth\nNULL\n3\ns\na|b  \n0.7\n"
             "output list: 0\nsame ic: 1\n7 12\nnote text\n");
  engine::load_all_cells(st);
  ASSERT_EQ(1u, st.cells.active.size());
  const ic_record& c = st.cells.active.front();
  EXPECT_EQ("NOTE", c.ic_type) << "first word";
  EXPECT_EQ("with  spaces ", c.sym_name) << "the whole rest of the line";
  EXPECT_EQ("srv", c.sys_name.server_id) << "cut at the space";
  EXPECT_EQ("name", c.inputs.back().msg.sym_names.at(0)) << "trailing spaces dropped";
  EXPECT_FALSE(c.inputs.back().msg.content) << "NULL is an absent content";
  EXPECT_EQ("a|b", c.inputs.front().msg.content) << "a content loses its trailing spaces";
  EXPECT_TRUE(c.inputs.front().msg.sym_names.empty()) << "an empty name line is no name";
  EXPECT_EQ(12, c.same_ic[7]);
  EXPECT_EQ("note text", dynamic_cast<engine_test::note&>(*c.mm).text);
}

TEST_F(CellStoreTest, MissingStoreMeansNoCells) {
  ASSERT_TRUE(out.tr().open("dump_file"));
  add(1);
  engine::load_all_cells(st);
  EXPECT_TRUE(st.cells.active.empty());
  out.tr().close();
  EXPECT_EQ("Can't open backup file file.ic. <br>\n", read_file(dir_ / "dump_file"));
  EXPECT_EQ("", page.str());
}

TEST_F(CellStoreTest, DamagedStoreIsReportedWithItsLine) {
  std::string good = header(1) + empty_lists() + "empty\n";
  struct {
    std::string text;
    std::string page;
  } cases[] = {
      {good + "id 2\n", "line 16: \"id: \" is expected"},
      {good + header(2).substr(0, 20),
       "line 18: the file ends where \"current state: \" is expected"},
      {header(1) + "input list: x\n", "line 12: \"input list: \" must be followed by a count"},
      {header(1) + "input list: 1\n1 2\n", "line 13: an input entry must be 3 numbers"},
      {header(1) + "input list: 0\noutput list: 0\nsame ic: 1\n50 3\nempty\n",
       "line 15: a same ic slot must lie in 0..49"},
      {header(1) + "input list: 0\noutput list: 0\nsame ic: 1\n-1 3\nempty\n",
       "line 15: a same ic slot must lie in 0..49"},
      {header(1) + "input list: 0\noutput list: 1\n1\n2 3\n",
       "line 15: an output message must be 3 numbers"},
      {header(1) + empty_lists(), "line 15: the file ends where a note is expected"},
  };
  for (const auto& c : cases) {
    write_file(dir_ / "file.ic", c.text);
    page.str("");
    add(9);
    EXPECT_EQ(1, status_of(engine::load_all_cells)) << c.text;
    EXPECT_EQ("The cell store file.ic is damaged at " + c.page + ".<p>\n", page.str()) << c.text;
    EXPECT_EQ(c.text, read_file(dir_ / "file.ic"));
  }
}

TEST_F(CellStoreTest, BackupTakesTheLowestFreeNumber) {
  add(1);
  engine::save_all_cells(st);
  engine::save_all_cells(st);
  EXPECT_EQ((std::vector<std::string>{"file.ic.b0", "file.ic.b1"}),
            test_util::list_dir(dir_ / "BACKUP"));
  engine::save_all_cells(st);
  EXPECT_TRUE(read_file(dir_ / "BACKUP/file.ic.b2"));
  ASSERT_EQ(0, ::unlink((dir_ / "BACKUP/file.ic.b0").c_str()));
  write_file(dir_ / "BACKUP/file.ic.b07", "not a number of ours");
  write_file(dir_ / "BACKUP/other.b0", "");
  EXPECT_EQ("BACKUP/file.ic.b0", engine::next_backup_name("file.ic"));
  st.cells.active.front().current_state = 4;
  engine::save_all_cells(st);
  EXPECT_EQ(read_file(dir_ / "file.ic"), read_file(dir_ / "BACKUP/file.ic.b0"))
      << "the gap is filled with a copy of the new store";
  EXPECT_EQ("BACKUP/file.ic.b3", engine::next_backup_name("file.ic"));
  struct stat sb;
  ASSERT_EQ(0, ::stat((dir_ / "file.ic").c_str(), &sb));
  EXPECT_EQ(0644u, sb.st_mode & 0777u);
  ASSERT_EQ(0, ::stat((dir_ / "BACKUP/file.ic.b0").c_str(), &sb));
  EXPECT_EQ(0644u, sb.st_mode & 0777u);
}

TEST_F(CellStoreTest, BackupIsACopyOfItsOwn) {
  add(1);
  engine::save_all_cells(st);
  engine::save_all_cells(st);
  struct stat store, b1;
  ASSERT_EQ(0, ::stat((dir_ / "file.ic").c_str(), &store));
  ASSERT_EQ(0, ::stat((dir_ / "BACKUP/file.ic.b1").c_str(), &b1));
  EXPECT_NE(store.st_ino, b1.st_ino) << "the latest backup shares nothing with the store";
  EXPECT_EQ(read_file(dir_ / "file.ic"), read_file(dir_ / "BACKUP/file.ic.b1"));
  // An older copy put back by writing over file.ic, as cp does, leaves
  // every backup as it was.
  std::string b1_text = *read_file(dir_ / "BACKUP/file.ic.b1");
  {
    std::ofstream over(dir_ / "file.ic", std::ios::binary | std::ios::trunc);
    over << "an older store";
  }
  EXPECT_EQ(b1_text, read_file(dir_ / "BACKUP/file.ic.b1"));

  // A backup that disappears is found again by the next save, however soon
  // after the previous one; a damaged hint is not trusted either.
  ASSERT_EQ(0, ::unlink((dir_ / "BACKUP/file.ic.b1").c_str()));
  engine::save_all_cells(st);
  EXPECT_TRUE(read_file(dir_ / "BACKUP/file.ic.b1"));
  write_file(dir_ / "BACKUP.file.ic.next", "0\ngarbage\n");
  engine::save_all_cells(st);
  EXPECT_EQ((std::vector<std::string>{"file.ic.b0", "file.ic.b1", "file.ic.b2"}),
            test_util::list_dir(dir_ / "BACKUP"));
}

// A hint that holds (its stamp matches the folder) but names a taken
// number, with the next ones taken too: the folder is listed again and the
// copy filed under the lowest free number, every time.
TEST_F(CellStoreTest, AWrongHintNeverStopsBackups) {
  add(1);
  engine::save_all_cells(st);  // b0, hint 1
  for (int n = 1; n <= 5; ++n) {
    write_file(dir_ / ("BACKUP/file.ic.b" + std::to_string(n)), "put back");
  }
  // The copies were put back with the folder's time kept, as rsync -a and
  // tar do: the hint still holds, and names b1.
  std::string hint = *read_file(dir_ / "BACKUP.file.ic.next");
  std::string stamp = hint.substr(hint.find('\n') + 1);
  std::istringstream fields(stamp);
  std::string dev, ino;
  struct timespec times[2];
  fields >> dev >> ino >> times[1].tv_sec >> times[1].tv_nsec;
  times[0] = times[1];
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, (dir_ / "BACKUP").c_str(), times, 0));
  ASSERT_TRUE(engine::backups_unchanged("file.ic"));
  engine::save_all_cells(st);
  EXPECT_TRUE(read_file(dir_ / "BACKUP/file.ic.b6"));
  engine::save_all_cells(st);
  EXPECT_TRUE(read_file(dir_ / "BACKUP/file.ic.b7"));
  EXPECT_EQ("", page.str());
}

TEST_F(CellStoreTest, ASaveThatCannotFileItsBackupFailsAndChangesNothing) {
  add(1);
  engine::save_all_cells(st);
  std::string old = *read_file(dir_ / "file.ic");
  ASSERT_EQ(0, ::rename((dir_ / "BACKUP").c_str(), (dir_ / "old").c_str()));
  write_file(dir_ / "BACKUP", "not a directory");
  st.cells.active.front().current_state = 4;
  EXPECT_THROW(engine::save_all_cells(st), run_exit);
  EXPECT_EQ("Can't file a backup copy of file.ic in BACKUP: BACKUP/file.ic.b0: Not a "
            "directory<p>\n",
            page.str());
  EXPECT_EQ(old, read_file(dir_ / "file.ic"));
}

TEST_F(CellStoreTest, ASaveFilesNoCopyThroughABackupFolderThatIsALink) {
  add(1);
  engine::save_all_cells(st);
  std::string old = *read_file(dir_ / "file.ic");
  ASSERT_EQ(0, ::rename((dir_ / "BACKUP").c_str(), (dir_ / "outside").c_str()));
  ASSERT_EQ(0, ::symlink("outside", (dir_ / "BACKUP").c_str()));
  st.cells.active.front().current_state = 4;
  EXPECT_THROW(engine::save_all_cells(st), run_exit);
  EXPECT_EQ("Can't file a backup copy of file.ic in BACKUP: BACKUP: not a folder of the site (a "
            "symbolic link)<p>\n",
            page.str());
  EXPECT_EQ(old, read_file(dir_ / "file.ic"));
  EXPECT_FALSE(read_file(dir_ / "outside/file.ic.b1")) << "no copy filed elsewhere";
}

TEST_F(CellStoreTest, StoreTextReadsInMemory) {
  std::string text = header(7) + empty_lists() + "note 7\n" + header(8) + empty_lists() + "n8\n";
  st.cells.load(text, engine::store_reading::full, st.clock);
  engine::cell_list& cells = st.cells.active;
  ASSERT_EQ(2u, cells.size());
  EXPECT_EQ(8, cells.front().id) << "the last cell of the text first";
  EXPECT_EQ(7, cells.back().id);
  EXPECT_TRUE(cells.front().fg.is_shared()) << "the cells read their type's functions";
  EXPECT_EQ(&cells.front().fg.view(), &cells.back().fg.view());
  EXPECT_THROW(st.cells.load(header(7) + "input list: x\n", engine::store_reading::full, st.clock),
               engine::store_error);
}

// A hook that ends the run in the middle of a save.
struct dying_hooks : engine_test::fake_hooks {
  void save_mm(engine::store_writer& w, const engine::ic_record& cell) override {
    if (cell.id == 2) throw run_exit{0};
    fake_hooks::save_mm(w, cell);
  }
};

TEST_F(CellStoreTest, RunEndingDuringSaveLeavesTheOldStore) {
  add(1);
  engine::save_all_cells(st);
  std::string old = *read_file(dir_ / "file.ic");
  dying_hooks dying;
  engine::engine_state other(out, engine::site_identity{"srv1", "north"}, engine_test::test_types,
                             dying);
  other.cells.active.push_back(ic_record{});
  other.cells.active.back().id = 1;
  other.cells.active.push_back(ic_record{});
  other.cells.active.back().id = 2;
  EXPECT_THROW(engine::save_all_cells(other), run_exit);
  EXPECT_EQ(old, read_file(dir_ / "file.ic"));
  EXPECT_EQ((std::vector<std::string>{"file.ic.b0"}), test_util::list_dir(dir_ / "BACKUP"));
}

class CounterLayoutTest : public CellStoreTest {
 protected:
  CounterLayoutTest() { st.codec.layout = engine::store_layout::counter; }
};

TEST_F(CounterLayoutTest, CellsTakeIdsFromTheStoredCounter) {
  message m;
  m.itype = "PLAIN";
  m.sym_names = {"ignored"};
  ASSERT_NE(nullptr, engine::new_cell_from_message(st, m));
  ASSERT_NE(nullptr, engine::new_cell_from_message(st, m));
  EXPECT_EQ((std::vector<std::int32_t>{2, 1}), active_ids());
  EXPECT_EQ("", st.cells.active.front().sym_name);
  EXPECT_EQ((std::vector<std::string>{"new_internal_mm PLAIN", "new_internal_mm PLAIN"}),
            hooks.calls)
      << "nothing is registered";

  message in;
  in.msg_type = 1;
  in.mflag = engine::IC_TYPE;
  in.sender = 2;
  in.itype = "PLAIN";
  in.content = "a|b  ";
  engine::add_input(st.cells.active.front(), in);
  in.itype.reset();
  in.content = "NULL";
  engine::add_input(st.cells.active.front(), in);
  engine::set_same_ic(st.cells.active.front(), 1, 1);
  engine::save_all_cells(st);
  std::string first = *read_file(dir_ / "file.ic");
  EXPECT_EQ(
      "next available ic: 3\n"
      "id: 2\nic type: PLAIN\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
      "input list: 2\n2 1 2\nNULL\nNULL\n2 1 2\nPLAIN\na|b  \n"
      "output list: 0\nsame ic: 1\n1 1\n"
      "id: 1\nic type: PLAIN\ncurrent state: 0\ninitial state: 0\nmax. time: 100\n"
      "input list: 0\noutput list: 0\nsame ic: 0\n",
      first);
  EXPECT_TRUE(test_util::list_dir(dir_ / "BACKUP").empty()) << "no backup copy";

  st.cells.next_cell_id = 50;
  engine::load_all_cells(st);
  EXPECT_EQ(3, st.cells.next_cell_id);
  EXPECT_EQ((std::vector<std::int32_t>{1, 2}), active_ids());
  const auto& inputs = st.cells.active.back().inputs;
  EXPECT_EQ("a|b  ", inputs.front().msg.content) << "trailing blanks stay in this layout";
  EXPECT_EQ(2, inputs.front().msg.sender);
  EXPECT_FALSE(inputs.back().msg.content) << "the text NULL reads back absent";
  EXPECT_FALSE(inputs.back().msg.itype);
  engine::save_all_cells(st);
  engine::load_all_cells(st);
  engine::save_all_cells(st);
  EXPECT_EQ(first, read_file(dir_ / "file.ic"));

  write_file(dir_ / "file.ic", "id: 7\nic type: PLAIN\ncurrent state: 0\ninitial state: 0\n"
                               "max. time: 100\ninput list: 0\noutput list: 0\nsame ic: 0\n");
  st.cells.next_cell_id = 9;
  engine::load_all_cells(st);
  EXPECT_EQ(9, st.cells.next_cell_id) << "a store without the counter line leaves the counter";
  EXPECT_EQ((std::vector<std::int32_t>{7}), active_ids());
}

TEST(StoreTextTest, Encoding) {
  EXPECT_EQ("plain text", engine::encode_text("plain text"));
  EXPECT_EQ("%%a%0Ab%0D%25", engine::encode_text("a\nb\r%"));
  EXPECT_EQ("%%%25%25x", engine::encode_text("%%x")) << "a text that looks encoded is encoded";
  for (std::string s : {"", "a\nb", "%%", "%%x", "50%", "\n", "a%0Ab", "%%%0A"}) {
    EXPECT_EQ(s, engine::decode_text(engine::encode_text(s))) << s;
  }
  EXPECT_EQ("50%zz", engine::decode_text("%%50%zz")) << "stray percent signs stay";
}

TEST(StoreTextTest, ALineEndIsNeverAMark) {
  // A mark line "\r\r\n" once read as a carriage return, which the next
  // save wrote as a line end and the load after it read as no mark.
  engine::store_reader r("\r\r\ns\r\n\n");
  EXPECT_EQ('\0', r.character("a mark"));
  EXPECT_EQ('s', r.character("a mark"));
  EXPECT_EQ('\0', r.character("a mark"));
  for (char c : {'\r', '\n', '\0', 's'}) {
    engine::store_writer w;
    w.character(c);
    engine::store_reader back(w.str());
    EXPECT_EQ(c == 's' ? 's' : '\0', back.character("a mark")) << int{c};
    EXPECT_TRUE(back.at_end()) << "one line for one mark";
  }
}

TEST(StoreTextTest, PassingOverLinesCountsThemAsReadingWould) {
  engine::store_reader r("one\r\ntwo\n\nfour\nfive");
  r.pass(3, "three lines");
  EXPECT_EQ(3, r.line_number());
  EXPECT_EQ("four", r.line("the fourth line"));
  r.pass(1, "the last line, which has no line end");
  EXPECT_TRUE(r.at_end());
  try {
    r.pass(1, "a sixth line");
    ADD_FAILURE() << "a line past the end was passed over";
  } catch (const engine::store_error& e) {
    EXPECT_EQ(6, e.line);
    EXPECT_EQ("the file ends where a sixth line is expected", e.what);
  }
}

}  // namespace
