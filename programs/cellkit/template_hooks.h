// Template hooks of `cellkit`: the places where an application plugs into
// the engine, each holding a stub that announces itself on the page and
// gives a neutral answer, and the two click actions of the demonstration.
// A new application starts by replacing these stubs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/hooks.h"
#include "formdecode/page.h"

namespace cellkit {

/// The message types of `cellkit`.
inline constexpr engine::message_type_name message_types[] = {
    {"SINGLECLICK", 0},
    {"DOUBLECLICK", 1},
};

/// The stub hooks. Every text goes to the page of the run.
class template_hooks : public engine::app_hooks {
 public:
  // No application memory: nothing is made, written or read.
  std::unique_ptr<engine::app_memory> new_internal_mm(const std::string& ic_type) override;
  void save_mm(engine::store_writer& out, const engine::ic_record& cell) override;
  void load_mm(engine::store_reader& in, engine::ic_record& cell, engine::mm_reading why) override;

  // No naming: cells take their ids from the store's counter, so these are
  // never asked; they answer that no name is known or can be kept.
  engine::cell_registration register_cell(const std::string& symbolic_name,
                                          engine::ic_sys_name& sys) override;
  std::optional<std::int32_t> find_named_cell(const std::string& symbolic_name) override;

  /// There are no predicates: any number ends the run.
  int do_predicate(engine::engine_state& st, std::int32_t number,
                   const std::vector<engine::parameter>& params, engine::fg_function& f,
                   engine::ic_record& cell) override;

  /// The click actions 0 and 1; any other number ends the run.
  int do_actions(engine::engine_state& st, std::int32_t number,
                 const std::vector<engine::parameter>& params, engine::fg_function& f,
                 engine::ic_record& cell) override;

  /// The given type; "NOT_SPEC" (no type in the transition) shows a banner
  /// and stays "NOT_SPEC", since the template has no type to choose.
  std::string fill_itype(engine::engine_state& st, engine::message m, std::int32_t sender_id,
                         const std::string& ic_type) override;

  /// Announces itself; the content stays empty.
  std::string fill_content(engine::engine_state& st, const engine::message& m) override;

  /// Announces itself; no cell.
  engine::id_set find_ic(engine::engine_state& st, engine::ic_record& cell,
                         const engine::fg_function& f, const std::vector<engine::msg_link>& inputs,
                         const engine::message& out_spec, const std::string& ic_type) override;

  /// No other managers: no site.
  engine::name_set find_orv(engine::engine_state& st, engine::ic_record& cell,
                            const engine::fg_function& f,
                            const std::vector<engine::msg_link>& inputs,
                            const engine::message& out_spec, const std::string& ic_type) override;

  // Cross-site messages are dropped by the engine's rules before these.
  void fill_receiver(engine::engine_state& st, engine::ext_message& m, const std::string& orv_id,
                     std::int32_t ic_id) override;
  void write_outgoing_message(engine::engine_state& st, const engine::ext_message& m,
                              const std::string& orv_id) override;

  /// No variables of the application: "VAR_NOT_DEFINED!!".
  std::string userdef_v(engine::engine_state& st, const std::string& name,
                        const engine::ic_record& cell, std::int32_t context) override;

  // Functions and database accesses: the engine's standard set (G0, H0; no
  // database access).
};

// Stubs the engine does not call; an application that needs them calls
// them itself.

/// The flag of an output message: IC_TYPE in the template.
std::int32_t fill_mflag(formdecode::page& pg);

/// The predicate test of the old predicate definitions: true in the template.
int pred_match(formdecode::page& pg);

/// Prints a cell's application memory: nothing in the template.
void dump_internal_mm(formdecode::page& pg);

}  // namespace cellkit
