// Test helpers of the engine: a recording fake of the application hooks, a
// small message table, and a scope that runs a test in a directory.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <functional>
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
  void load_mm(engine::store_reader& r, engine::ic_record& cell, engine::mm_reading) override {
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

  // Transition firing: predicates hold unless `predicate` says otherwise;
  // actions run `action` when set; lookups answer the sets below.
  using call_fn = std::function<int(engine::engine_state&, std::int32_t,
                                    const std::vector<engine::parameter>&, engine::ic_record&)>;
  call_fn predicate;
  call_fn action;
  engine::id_set ic_answer;
  engine::name_set orv_answer;
  struct sent_file {
    engine::ext_message msg;
    std::string site;
  };
  std::vector<sent_file> sent;  // cross-site messages handed over

  int do_predicate(engine::engine_state& st, std::int32_t n,
                   const std::vector<engine::parameter>& params, engine::fg_function&,
                   engine::ic_record& cell) override {
    calls.push_back("do_predicate " + std::to_string(n) + " cell " + std::to_string(cell.id));
    return predicate ? predicate(st, n, params, cell) : 1;
  }
  int do_actions(engine::engine_state& st, std::int32_t n,
                 const std::vector<engine::parameter>& params, engine::fg_function&,
                 engine::ic_record& cell) override {
    calls.push_back("do_actions " + std::to_string(n) + " cell " + std::to_string(cell.id));
    return action ? action(st, n, params, cell) : 0;
  }
  std::string fill_itype(engine::engine_state&, engine::message, std::int32_t sender,
                         const std::string& type) override {
    calls.push_back("fill_itype " + std::to_string(sender) + " " + type);
    return type;
  }
  engine::id_set find_ic(engine::engine_state&, engine::ic_record& cell, const engine::fg_function&,
                         const std::vector<engine::msg_link>&, const engine::message& out,
                         const std::string&) override {
    calls.push_back("find_ic " + std::to_string(cell.id) + " " + std::to_string(out.msg_type));
    return ic_answer;
  }
  engine::name_set find_orv(engine::engine_state&, engine::ic_record& cell,
                            const engine::fg_function&, const std::vector<engine::msg_link>&,
                            const engine::message& out, const std::string&) override {
    calls.push_back("find_orv " + std::to_string(cell.id) + " " + std::to_string(out.msg_type));
    return orv_answer;
  }
  void fill_receiver(engine::engine_state&, engine::ext_message& m, const std::string& site,
                     std::int32_t id) override {
    calls.push_back("fill_receiver " + site + " " + std::to_string(id));
    m.receiver = engine::ic_sys_name{"*** (no server id)", site, m.ic_type, id, 's'};
  }
  void write_outgoing_message(engine::engine_state&, const engine::ext_message& m,
                              const std::string& site) override {
    calls.push_back("write_outgoing_message " + site);
    sent.push_back({m, site});
  }
  std::string userdef_v(engine::engine_state&, const std::string& name, const engine::ic_record&,
                        std::int32_t context) override {
    calls.push_back("userdef_v " + name + " " + std::to_string(context));
    return "v:" + name;
  }
  std::string userdef_f(engine::engine_state&, const std::string& name,
                        const std::vector<engine::parameter>& args, const engine::ic_record&,
                        std::int32_t context) override {
    std::string text = "userdef_f " + name + " " + std::to_string(context) + " (";
    for (const engine::parameter& a : args) text += " " + a.name + ":" + std::to_string(a.flag);
    calls.push_back(text + " )");
    return "f:" + name;
  }
  std::string userdef_db(engine::engine_state&, const std::string& name, const engine::ic_record&,
                         std::int32_t context) override {
    calls.push_back("userdef_db " + name + " " + std::to_string(context));
    return "db:" + name;
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
