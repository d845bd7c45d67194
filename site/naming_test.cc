#include "site/naming.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "engine/cell_store.h"
#include "engine/ic_manager.h"
#include "engine/model.h"
#include "gtest/gtest.h"
#include "platform/platform.h"
#include "site/orv_hooks.h"
#include "tests/test_util.h"

namespace {

using site::name_record;
using test_util::read_file;
using test_util::write_file;

class NamingTest : public ::testing::Test {
 protected:
  NamingTest() : old_(::getcwd(nullptr, 0)) { EXPECT_EQ(0, ::chdir(dir_.path().c_str())); }
  ~NamingTest() override {
    if (::chdir(old_) != 0) ADD_FAILURE() << "cannot return to " << old_;
    free(old_);
  }

  name_record record(const std::string& name, const std::string& orv = "north") {
    return name_record{0, name, engine::ic_sys_name{"srv1", orv, "VANTLE", 0, 's'}};
  }

  test_util::scoped_temp_dir dir_;
  char* old_;
  std::ostringstream out_;
  formdecode::page pg_{out_};
};

TEST_F(NamingTest, FirstCellOfANewSite) {
  name_record r = record("doc");
  EXPECT_EQ(site::REGISTERED, site::register_name(r, "north", pg_));
  EXPECT_EQ(1, r.ic_id);
  EXPECT_EQ(1, r.sys_name.ic_id) << "a cell of this site carries its own id";
  EXPECT_EQ("2", read_file("ic_id_counter"));
  EXPECT_EQ("1\ndoc\nsrv1\nnorth\nVANTLE\n1\ns\n", read_file("name_db"));
  struct stat st;
  ASSERT_EQ(0, ::stat("name_db", &st));
  EXPECT_EQ(0644u, st.st_mode & 0777u);
  EXPECT_EQ("", out_.str());
}

TEST_F(NamingTest, TakenNameIsRefusedWithoutUsingAnId) {
  name_record a = record("doc");
  ASSERT_EQ(site::REGISTERED, site::register_name(a, "north", pg_));
  name_record b = record("doc");
  EXPECT_EQ(site::NAME_TAKEN, site::register_name(b, "north", pg_));
  EXPECT_EQ("<p>The given symbolic name \"doc\" has already been used!!\n <p>", out_.str());
  EXPECT_EQ("2", read_file("ic_id_counter"));
  name_record c = record("Doc");
  EXPECT_EQ(site::REGISTERED, site::register_name(c, "north", pg_)) << "case-sensitive";
}

TEST_F(NamingTest, CellsWithoutNameGetThePlaceholder) {
  name_record a = record(""), b = record("");
  ASSERT_EQ(site::REGISTERED, site::register_name(a, "north", pg_));
  ASSERT_EQ(site::REGISTERED, site::register_name(b, "north", pg_));
  EXPECT_EQ("*** (no symbolic name)", a.symbolic_name);
  EXPECT_EQ("*** (no symbolic name)", b.symbolic_name);
  EXPECT_EQ(a.ic_id + 1, b.ic_id);
  EXPECT_EQ("", out_.str());
}

TEST_F(NamingTest, CopyOfAnotherSiteKeepsItsSystemId) {
  name_record r = record("remote", "south");
  r.sys_name.ic_id = 42;
  r.sys_name.flag = 'c';
  ASSERT_EQ(site::REGISTERED, site::register_name(r, "north", pg_));
  EXPECT_EQ(1, r.ic_id);
  EXPECT_EQ(42, r.sys_name.ic_id);
  name_record found;
  found.symbolic_name = "remote";
  ASSERT_TRUE(site::look_up(found, pg_));
  EXPECT_EQ("south", found.sys_name.orv_id);
  EXPECT_EQ(42, found.sys_name.ic_id);
  EXPECT_EQ('c', found.sys_name.flag);
}

TEST_F(NamingTest, NamesAreKeptWholeAndLineBreaksRefused) {
  std::string long_name(80, 'n');
  name_record r = record(long_name);
  ASSERT_EQ(site::REGISTERED, site::register_name(r, "north", pg_));
  EXPECT_TRUE(site::name_exists(long_name, pg_));
  EXPECT_FALSE(site::name_exists(long_name.substr(0, 49), pg_));

  name_record bad = record("two\nlines");
  EXPECT_EQ(site::NAME_REFUSED, site::register_name(bad, "north", pg_));
  EXPECT_EQ("<p>The given symbolic name \"two\nlines\" can't be registered: a name must be "
            "one line.\n <p>",
            out_.str());
  EXPECT_EQ("2", read_file("ic_id_counter"));
}

TEST_F(NamingTest, LookupAndExistence) {
  EXPECT_FALSE(site::name_exists("doc", pg_)) << "no name_db yet";
  name_record a = record("doc");
  ASSERT_EQ(site::REGISTERED, site::register_name(a, "north", pg_));
  EXPECT_TRUE(site::name_exists("doc", pg_));
  EXPECT_FALSE(site::name_exists("do", pg_));
  EXPECT_FALSE(site::name_exists("", pg_));
  name_record q;
  q.symbolic_name = "doc";
  ASSERT_TRUE(site::look_up(q, pg_));
  EXPECT_EQ("srv1", q.sys_name.server_id);
  EXPECT_EQ(1, q.sys_name.ic_id);
  EXPECT_EQ("", out_.str());
}

TEST_F(NamingTest, IncompleteLastRecordEndsTheSearch) {
  write_file("name_db", "1\nfirst\nsrv1\nnorth\nVANTLE\n1\ns\n2\nsecond\nsrv1\n");
  EXPECT_TRUE(site::name_exists("first", pg_));
  EXPECT_EQ("", out_.str());
  EXPECT_FALSE(site::name_exists("second", pg_));
  EXPECT_EQ("Error: the last record is not complete!!\n<p>", out_.str());
}

TEST_F(NamingTest, UniqueName) {
  name_record a = record("doc");
  ASSERT_EQ(site::REGISTERED, site::register_name(a, "north", pg_));
  EXPECT_EQ("fresh", site::unique_name(std::string("fresh"), pg_));
  write_file("name_counter", "4");
  EXPECT_EQ("doc_4", site::unique_name(std::string("doc"), pg_));
  EXPECT_EQ("5", read_file("name_counter"));
  name_record b = record("doc_5");
  ASSERT_EQ(site::REGISTERED, site::register_name(b, "north", pg_));
  EXPECT_EQ("doc_6", site::unique_name(std::string("doc"), pg_))
      << "each rejected candidate uses a number";
  EXPECT_EQ("IC_7", site::unique_name(std::nullopt, pg_));
}

TEST_F(NamingTest, OrvHooksRegisterThroughTheNamingDatabase) {
  std::ostringstream page;
  formdecode::output out(page);
  site::orv_hooks hooks(out, "north");
  engine::ic_sys_name sys{"srv1", "north", "VANTLE", 0, 's'};
  engine::cell_registration reg = hooks.register_cell("doc", sys);
  EXPECT_EQ(engine::cell_registration::registered, reg.status);
  EXPECT_EQ(1, reg.ic_id);
  EXPECT_EQ(1, sys.ic_id);
  EXPECT_EQ(1, hooks.find_named_cell("doc"));
  EXPECT_EQ(std::nullopt, hooks.find_named_cell("other"));
  EXPECT_EQ(engine::cell_registration::refused, hooks.register_cell("doc", sys).status);
  ASSERT_EQ(0, ::mkdir("blocked", 0755));
  ASSERT_EQ(0, ::chdir("blocked"));
  ASSERT_EQ(0, ::mkdir("name_db", 0755));  // cannot be read, so no name can be checked
  EXPECT_EQ(1, test_util::exit_status_of([&] { hooks.register_cell("x", sys); }));
  EXPECT_NE(std::string::npos,
            page.str().find("Error: can't read name_db: Is a directory; nothing is changed.\n<p>"))
      << page.str();
}

// One request that creates a cell, as orv's driver runs it: under the
// site's run lock, load the cells, make the cell, save the cells.
int create_cell_request(const std::string& name) {
  platform::run_lock lock("run.lock");
  std::ostringstream page;
  formdecode::output out(page);
  site::orv_hooks hooks(out, "north");
  engine::engine_state st(out, engine::site_identity{"srv1", "north"}, site::orv_message_types,
                          hooks);
  try {
    engine::load_all_cells(st);
    engine::message m;
    m.mflag = engine::IC_TYPE;
    m.msg_type = 1;
    m.sender = -1;
    m.sym_names = {name};
    m.server_id = "srv1";
    m.orv_id = "north";
    m.itype = "VANTLE";
    m.receivers = {0};
    m.flag = 's';
    m.content = name + "|NULL";
    engine::ic_record* cell = engine::new_cell_from_message(st, m);
    if (!cell) return 1;
    engine::add_input(*cell, m);
    engine::save_all_cells(st);
  } catch (const formdecode::run_exit&) {
    return 2;
  }
  return 0;
}

TEST_F(NamingTest, TwentyConcurrentCreationsStayConsistent) {
  write_file("VANTLE.in", "0\n1\n1\n1\n0\n0\n0\n0\n");
  std::vector<pid_t> children;
  for (int i = 0; i < 20; ++i) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(create_cell_request("doc" + std::to_string(i)));
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::ostringstream page;
  formdecode::output out(page);
  site::orv_hooks hooks(out, "north");
  engine::engine_state st(out, engine::site_identity{"srv1", "north"}, site::orv_message_types,
                          hooks);
  engine::load_all_cells(st);
  ASSERT_EQ(20u, st.cells.active.size());
  std::set<std::int32_t> ids;
  for (const engine::ic_record& c : st.cells.active) {
    ids.insert(c.id);
    EXPECT_EQ(c.id, c.sys_name.ic_id);
    ASSERT_EQ(1u, c.inputs.size());
    EXPECT_EQ(c.sym_name + "|NULL", c.inputs.front().msg.content);
    name_record rec;
    rec.symbolic_name = c.sym_name;
    ASSERT_TRUE(site::look_up(rec, pg_)) << c.sym_name;
    EXPECT_EQ(c.id, rec.sys_name.ic_id) << c.sym_name;
  }
  EXPECT_EQ(20u, ids.size());
  EXPECT_EQ(1, *ids.begin());
  EXPECT_EQ(20, *ids.rbegin());
  EXPECT_EQ("21", read_file("ic_id_counter"));
  std::string db = *read_file("name_db");
  EXPECT_EQ(140, std::count(db.begin(), db.end(), '\n')) << "20 records of 7 lines";
  EXPECT_EQ(20u, test_util::list_dir("BACKUP").size());
  EXPECT_EQ("", out_.str());
}

}  // namespace
