// Timing of the IC manager: selection of a transition with 3 input specs
// among 50 (and 100) waiting inputs, against the enumeration of every
// n^3 candidate; and a broadcast to 1,000 cells against the store's load
// and save of the same cells.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/cell_store.h"
#include "engine/fg_reader.h"
#include "engine/firing.h"
#include "engine/ic_manager.h"
#include "engine/model.h"
#include "engine/test_hooks.h"
#include "platform/platform.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// One transition needing a type-3, a type-5 and a type-7 input.
const char* const three_specs = "0\n1\n3\n7\n5\n3\n0\n0\n0\n0\n";

engine::message input(std::int32_t type) {
  engine::message m;
  m.mflag = engine::IC_ID;
  m.msg_type = type;
  m.sender = -1;
  m.receivers = {1};
  m.content = "x";
  return m;
}

// Candidates a full enumeration of n^k numbers visits before it finds the
// first full match (every one, when there is none).
long long enumerated(const std::vector<std::int32_t>& types, const std::vector<std::int32_t>& specs) {
  long long n = static_cast<long long>(types.size()), visited = 0;
  for (long long a = 0; a < n * n * n; ++a) {
    ++visited;
    long long d[3] = {a % n, a / n % n, a / n / n};
    if (d[0] == d[1] || d[0] == d[2] || d[1] == d[2]) continue;
    bool match = true;
    for (int j = 0; j < 3 && match; ++j) match = types[static_cast<size_t>(d[j])] == specs[static_cast<size_t>(j)];
    if (match) return visited;
  }
  return visited;
}

// Selection in a cell of `n` inputs: `filler` inputs of a type no spec
// takes, then (oldest) one input of each spec type, or of the first two
// only when `fireable` is false.
void selection(int n, bool fireable) {
  std::ostringstream page;
  formdecode::output out(page);
  engine_test::fake_hooks hooks;
  engine::engine_state st(out, {"srv1", "north"}, engine_test::test_types, hooks);
  engine::ic_record c;
  c.id = 1;
  c.fg = engine::parse_fg_functions(out, three_specs, "B.in");
  std::vector<std::int32_t> oldest = fireable ? std::vector<std::int32_t>{7, 5, 3}
                                              : std::vector<std::int32_t>{5, 3};
  std::vector<std::int32_t> types;  // newest first
  for (std::int32_t t : oldest) engine::add_input(c, input(t));
  while (static_cast<int>(c.inputs.size()) < n) engine::add_input(c, input(9));
  for (const engine::msg_node& m : c.inputs) types.push_back(m.msg.msg_type);

  const int rounds = 2000;
  auto start = clock_type::now();
  int chosen = 0;
  for (int i = 0; i < rounds; ++i) chosen += engine::select_function(st, c) != nullptr;
  double ours = seconds_since(start) / rounds;

  start = clock_type::now();
  long long visited = 0;
  for (int i = 0; i < 20; ++i) visited = enumerated(types, {3, 5, 7});
  double full = seconds_since(start) / 20;
  std::printf("%3d inputs, %s: selection %8.2f us (chosen %d/%d); full enumeration of n^3 "
              "visits %lld candidates in %9.2f us\n",
              n, fireable ? "fires   " : "no match", ours * 1e6, chosen, rounds, visited,
              full * 1e6);
}

void broadcast(int n) {
  std::ostringstream page;
  formdecode::output out(page);
  engine_test::fake_hooks hooks;
  engine::engine_state st(out, {"srv1", "north"}, engine_test::test_types, hooks);
  for (int i = 1; i <= n; ++i) {
    engine::ic_record c;
    c.id = i;
    c.ic_type = "NOTE";
    c.sys_name = {"srv1", "north", "NOTE", i, 's'};
    c.fg = st.functions.copy_of("NOTE");
    c.mm = hooks.new_internal_mm("NOTE");
    st.cells.active.push_back(std::move(c));
  }
  auto start = clock_type::now();
  engine::save_all_cells(st);
  double save = seconds_since(start);
  start = clock_type::now();
  engine::load_all_cells(st);
  double load = seconds_since(start);

  hooks.calls.clear();
  engine::ext_message e;
  e.kind = engine::KIND_TYPE_NUMBER;
  e.flag = engine::IC_ID;
  e.msg_type = 52;
  e.ic_type = "NOT_SPEC";
  e.receiver = {"srv1", "north", "NOTE", engine::RECEIVER_ALL_ACCEPTING, 's'};
  e.content = "x|y";
  start = clock_type::now();
  engine::handle_ext_message(st, e);
  double cast = seconds_since(start);
  size_t fired = 0;
  for (const std::string& call : hooks.calls) fired += call.starts_with("do_actions");
  std::printf("broadcast to %d cells: %.2f ms (%zu fired); load %.2f ms, save %.2f ms; "
              "broadcast / (load + save) = %.2f\n",
              n, cast * 1e3, fired, load * 1e3, save * 1e3, cast / (load + save));
}

}  // namespace

int main() {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "manager_bench.XXXXXX";
  std::string templ = dir.string();
  if (!::mkdtemp(templ.data()) || ::chdir(templ.c_str()) != 0) return 1;
  // NOTE: each cell fires once on a MSG_MOVE_DELETE and stays in state 0.
  platform::replace_file("NOTE.in", "0\n0\n1\n52,X1|X2\n0\n0\n0\n1\n1,X1\n", nullptr);

  for (int n : {10, 50, 100}) selection(n, true);
  for (int n : {10, 50, 100}) selection(n, false);
  broadcast(1000);

  std::filesystem::current_path("/");
  std::filesystem::remove_all(templ);
  return 0;
}
