// Timing of the cell store: save and load of stores of 1,000 and 10,000
// vantle cells, in a fresh directory, reported as time per cell. Loading
// must grow linearly with the number of cells, so the time per cell of the
// two sizes should be close.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "engine/cell_store.h"
#include "engine/fg_reader.h"
#include "engine/model.h"
#include "engine/population.h"
#include "engine/senders.h"
#include "platform/platform.h"
#include "site/orv_hooks.h"
#include "site/vantle.h"

namespace {

using clock_type = std::chrono::steady_clock;

const char* const vantle_fg =
    "0\n1\n1\n1,X1|X2|X3|X4|X5|X6|X7|X8|X9\n0\n1\n-3,VANTLE,-3\n1\n2,X1|X2\n2\n0,X1|X2|X3\n9\n"
    "1\n1\n1\n3,X1\n1\n2,X1|I1\n1\n-4\n1\n5,X1\n1\n6,X1\n";

// A filled vantle cell with two inputs, an output group and a same-ic entry.
engine::ic_record make_cell(engine::engine_state& st, std::int32_t id) {
  engine::ic_record c;
  c.id = id;
  c.ic_type = site::vantle_type_name;
  c.current_state = 1;
  c.sym_name = "document " + std::to_string(id);
  c.sys_name = {"srv1", "north", site::vantle_type_name, id, 's'};
  c.fg = st.functions.copy_of(c.ic_type);
  engine::message m;
  m.mflag = engine::IC_ID;
  m.msg_type = 3;
  m.sender = -1;
  m.sym_names = {c.sym_name};
  m.server_id = "srv1";
  m.orv_id = "north";
  m.itype = site::vantle_type_name;
  m.receivers = {id};
  m.flag = 's';
  m.content = "paper#retrieval#!|agents#!|NULL";
  m.fuzzy = 0.7f;
  engine::add_input(c, m);
  m.content = "a comment\nover two lines#!|NULL";
  engine::add_input(c, m);
  engine::output_group g;
  g.msgs.push_back({id + 1, m});
  c.outputs.push_back(g);
  engine::set_same_ic(c, 5, id + 1);
  auto v = site::new_vantle_record();
  v->ic_id = id;
  v->orv_id = "north";
  v->vantle_type = site::info_gathering;
  v->doc_id = "doc-" + std::to_string(id);
  v->i_am = "paper#retrieval#!";
  v->i_comment = "a comment#!";
  site::info_entry e;
  e.doc_id = "other";
  e.i_am = "paper#!";
  e.i_comment = "found#!";
  site::add_info_entry(*v, e);
  v->fusion = site::fuse_info_gathering(*v);
  c.mm = std::move(v);
  return c;
}

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Saves and loads a store of `n` cells; returns the load time per cell.
double run(int n) {
  std::ostringstream page;
  formdecode::output out(page);
  site::orv_hooks hooks(out, "north");
  engine::engine_state st(out, engine::site_identity{"srv1", "north"}, site::orv_message_types,
                          hooks);
  for (int i = 1; i <= n; ++i) st.cells.active.push_back(make_cell(st, i));

  auto start = clock_type::now();
  engine::save_all_cells(st);
  double save = seconds_since(start);

  start = clock_type::now();
  engine::load_all_cells(st);
  double load = seconds_since(start);
  if (static_cast<int>(st.cells.active.size()) != n) {
    std::fprintf(stderr, "loaded %zu cells of %d\n", st.cells.active.size(), n);
    std::exit(1);
  }
  std::printf("%6d cells: save %8.2f us/cell, load %8.2f us/cell (store %zu bytes)\n", n,
              save * 1e6 / n, load * 1e6 / n, platform::read_file(engine::store_file)->size());
  return load / n;
}

}  // namespace

int main() {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "store_bench.XXXXXX";
  std::string templ = dir.string();
  if (!::mkdtemp(templ.data()) || ::chdir(templ.c_str()) != 0) return 1;
  platform::replace_file("VANTLE.in", vantle_fg, nullptr);

  double small = run(1000);
  double large = run(10000);
  std::printf("load time per cell, 10,000 against 1,000 cells: %.2f (1.00 is linear)\n",
              large / small);

  std::filesystem::current_path("/");
  std::filesystem::remove_all(templ);
  return 0;
}
