#include "site/orv_hooks.h"

#include <string>
#include <vector>

#include "engine/params.h"
#include "exchange/exchange.h"

#include "site/groups.h"
#include "site/naming.h"

namespace site {
namespace {

constexpr engine::message_type_name message_types[] = {
    {"MSG_CREATE", 1},
    {"MSG_MOVE_KEEP", 2},
    {"MSG_RETRIEVE", 3},
    {"MSG_LOCAL_REPLY", 4},
    {"MSG_REMOTE_REPLY", 5},
    {"MSG_REPLY_TO_USER", 6},
    {"MSG_VANTLE_CREATED", 7},
    {"MSG_SHOW_VANTLE_RESULT", 8},
    {"MSG_MOVE_DELETE", 52},
    {"MSG_MOVE_DELETE_TO_CREATE", 53},
    {"MSG_DELETE", 100},
    {"MSG_SHOW_ALL", 200},
    {"MSG_UPDATE_CONFIG", 300},
    {"MSG_SHOW_CONFIG", 301},
};

vantle_record* vantle_of(const engine::ic_record& cell) {
  return dynamic_cast<vantle_record*>(cell.mm.get());
}

}  // namespace

const engine::message_table orv_message_types{message_types};

std::unique_ptr<engine::app_memory> orv_hooks::new_internal_mm(const std::string& ic_type) {
  if (ic_type == vantle_type_name) return new_vantle_record();
  out_.pg().print("Unknown ic type: %s\n", ic_type);
  return nullptr;
}

// A cell without a vantle record has an empty application block.
void orv_hooks::save_mm(engine::store_writer& w, const engine::ic_record& cell) {
  if (const vantle_record* v = vantle_of(cell)) save_vantle(w, *v, out_.pg());
}

void orv_hooks::load_mm(engine::store_reader& r, engine::ic_record& cell) {
  vantle_record* v = vantle_of(cell);
  if (!v) return;
  load_vantle(r, *v, [&] {
    if (v->i_am == empty_list) return;
    out_.pg().write("Calling VG updating funciton...<br>\n");
    enter_virtual_group(cell, *v);
  });
}

void orv_hooks::enter_virtual_group(engine::ic_record&, vantle_record& v) {
  if (world_) enter_group(world_->kb.groups, v, out_);
}

world& orv_hooks::set_world(world w) {
  world_ = std::move(w);
  return *world_;
}

engine::cell_registration orv_hooks::register_cell(const std::string& symbolic_name,
                                                   engine::ic_sys_name& sys) {
  name_record rec{0, symbolic_name, sys};
  switch (register_name(rec, site_orv_id_, out_.pg())) {
    case REGISTERED:
      sys = rec.sys_name;
      return {engine::cell_registration::registered, rec.ic_id};
    case NAME_TAKEN:
    case NAME_REFUSED:
      return {engine::cell_registration::refused, 0};
    case DB_UNWRITABLE:
      break;
  }
  return {engine::cell_registration::failed, 0};
}

std::optional<std::int32_t> orv_hooks::find_named_cell(const std::string& symbolic_name) {
  name_record rec;
  rec.symbolic_name = symbolic_name;
  if (!look_up(rec, out_.pg())) return std::nullopt;
  return rec.sys_name.ic_id;
}

// --- transition firing: placeholders until the vantle actions are built ---

int orv_hooks::do_predicate(engine::engine_state&, std::int32_t number,
                            const std::vector<engine::parameter>&, engine::fg_function&,
                            engine::ic_record&) {
  out_.pg().print("do_predicate: Unknown predicate number %d\n", number);
  throw formdecode::run_exit{0};
}

int orv_hooks::do_actions(engine::engine_state&, std::int32_t number,
                          const std::vector<engine::parameter>&, engine::fg_function&,
                          engine::ic_record&) {
  out_.pg().print("do_actions: Unknown action number %d\n", number);
  throw formdecode::run_exit{0};
}

std::string orv_hooks::fill_itype(engine::engine_state&, engine::message, std::int32_t,
                                  const std::string& ic_type) {
  return ic_type;
}

engine::id_set orv_hooks::find_ic(engine::engine_state&, engine::ic_record&,
                                  const engine::fg_function&, const std::vector<engine::msg_link>&,
                                  const engine::message&, const std::string&) {
  return {};
}

engine::name_set orv_hooks::find_orv(engine::engine_state&, engine::ic_record&,
                                     const engine::fg_function&,
                                     const std::vector<engine::msg_link>&, const engine::message&,
                                     const std::string&) {
  return {};
}

void orv_hooks::fill_receiver(engine::engine_state&, engine::ext_message& m,
                              const std::string& orv_id, std::int32_t ic_id) {
  m.receiver = engine::ic_sys_name{"*** (no server id)", orv_id, m.ic_type, ic_id, 's'};
}

// --- cross-site messages and parameter values ---

void orv_hooks::write_outgoing_message(engine::engine_state&, const engine::ext_message& m,
                                       const std::string& orv_id) {
  exchange::write_outgoing_message(ex_, m, orv_id, out_);
}

std::string orv_hooks::userdef_v(engine::engine_state&, const std::string& name,
                                 const engine::ic_record& cell, std::int32_t context) {
  const vantle_record* v = vantle_of(cell);
  if ((context == 2 || context == 3) && name == "Z1") return site_orv_id_;
  if ((context == 2 || context == 3) && name == "Z2") return std::to_string(cell.id);
  // The description of the vantle itself, or of the fusion of its results.
  const info_entry* fused = v && v->fusion ? &*v->fusion : nullptr;
  if (v && (context == 1 || context == 4 || (context == 5 && fused)) && name.size() == 2 &&
      name[0] == 'Y' && name[1] >= '1' && name[1] <= '8') {
    if (context == 5) {
      const std::string* fields[] = {&fused->doc_id,   &fused->i_am,      &fused->i_love,
                                     &fused->i_hate,   &fused->i_behave,  &fused->i_keyword,
                                     &fused->i_comment, &fused->vantle_type};
      return *fields[name[1] - '1'];
    }
    const std::string* fields[] = {&v->doc_id,   &v->i_am,      &v->i_love,    &v->i_hate,
                                   &v->i_behave, &v->i_keyword, &v->i_comment, &v->vantle_type};
    return *fields[name[1] - '1'];
  }
  out_.pg().print("userdef_v(): variable %s not defined\n", name);
  return "VAR_NOT_DEFINED!!";
}

std::string orv_hooks::userdef_f(engine::engine_state& st, const std::string& name,
                                 const std::vector<engine::parameter>& args,
                                 const engine::ic_record& cell, std::int32_t) {
  if (name == "G0" || name == "H0") {
    // A call without arguments has no first argument: it counts as 0.
    std::int32_t first = engine::par_int(st, 1, args, cell);
    long long value = static_cast<long long>(first) + (name == "G0" ? 1 : -1);
    return std::to_string(value);
  }
  out_.pg().print("userdef_f(): function %s not defined\n", name);
  return "FUNC_NOT_DEFINED!!";
}

std::string orv_hooks::userdef_db(engine::engine_state&, const std::string& name,
                                  const engine::ic_record&, std::int32_t) {
  out_.pg().print("userdef_db(): db_access %s not defined\n", name);
  return "DB_ACCESS_NOT_DEFINED!!";
}


}  // namespace site
