#include "site/orv_hooks.h"

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

}  // namespace site
