// Test helpers of the engine: a recording fake of the application hooks, a
// small message table, and a scope that runs a test in a directory.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/hooks.h"
#include "engine/store_text.h"

namespace engine_test {

inline constexpr engine::message_type_name test_types[] = {
    {"MSG_CREATE", 1}, {"MSG_MOVE_KEEP", 2}, {"MSG_MOVE_DELETE", 52}, {"MSG_DELETE", 100}};

/// Application memory of the fake: one line of text.
struct note : engine::app_memory {
  std::string text = "empty";
};

/// Records every call; ids come from a counter, names from a map.
struct fake_hooks : engine::app_hooks {
  std::vector<std::string> calls;
  std::int32_t next_id = 1;
  std::map<std::string, std::int32_t> names;
  engine::cell_registration::status_kind answer = engine::cell_registration::registered;

  std::unique_ptr<engine::app_memory> new_internal_mm(const std::string& type) override {
    calls.push_back("new_internal_mm " + type);
    if (type != "NOTE") return nullptr;
    return std::make_unique<note>();
  }
  void save_mm(engine::store_writer& w, const engine::ic_record& cell) override {
    calls.push_back("save_mm " + std::to_string(cell.id));
    if (auto* n = dynamic_cast<note*>(cell.mm.get())) w.text(n->text);
  }
  void load_mm(engine::store_reader& r, engine::ic_record& cell) override {
    calls.push_back("load_mm " + std::to_string(cell.id));
    if (auto* n = dynamic_cast<note*>(cell.mm.get())) n->text = r.text("a note");
  }
  engine::cell_registration register_cell(const std::string& name,
                                          engine::ic_sys_name& sys) override {
    calls.push_back("register_cell " + name + " " + sys.orv_id);
    if (answer != engine::cell_registration::registered) return {answer, 0};
    if (!name.empty()) names[name] = next_id;
    sys.ic_id = next_id;
    return {engine::cell_registration::registered, next_id++};
  }
  std::optional<std::int32_t> find_named_cell(const std::string& name) override {
    calls.push_back("find_named_cell " + name);
    auto it = names.find(name);
    if (it == names.end()) return std::nullopt;
    return it->second;
  }
};

/// Runs the enclosing scope in `dir`.
class scoped_chdir {
 public:
  explicit scoped_chdir(const std::string& dir) : old_(::getcwd(nullptr, 0)) {
    if (::chdir(dir.c_str()) != 0) std::abort();
  }
  ~scoped_chdir() {
    if (::chdir(old_) != 0) std::abort();
    std::free(old_);
  }
  scoped_chdir(const scoped_chdir&) = delete;
  scoped_chdir& operator=(const scoped_chdir&) = delete;

 private:
  char* old_;
};

/// An engine over a string page and the fake hooks.
struct engine_fixture {
  std::ostringstream page;
  formdecode::output out{page};
  fake_hooks hooks;
  engine::engine_state st{out, engine::site_identity{"srv1", "north"}, test_types, hooks};
};

}  // namespace engine_test
