#include "engine/model.h"

#include <algorithm>

#include "engine/fg_reader.h"

namespace engine {

using formdecode::run_exit;

std::string decode_msg(const engine_state& st, std::int32_t number) {
  for (const message_type_name& t : st.msg_types) {
    if (t.number == number) return std::string(t.name);
  }
  st.out.pg().print("decode_msg: Unknown message type %d\n", number);
  throw run_exit{0};
}

std::int32_t encode_msg(const engine_state& st, const std::string& name) {
  for (const message_type_name& t : st.msg_types) {
    if (t.name == name) return t.number;
  }
  st.out.pg().print("encode_msg: Unknown message type %s\n", name);
  throw run_exit{0};
}

std::string state_name(std::int32_t state) {
  if (state == STATE_START) return "S0";
  if (state == STATE_SLEEP) return "SLEEP";
  if (state == STATE_DEAD) return "DEAD";
  return "STATE_" + std::to_string(state);
}

std::string sender_name(std::int32_t sender) {
  if (sender == SENDER_EXTERNAL) return "(EXTERNAL)";
  if (sender == SENDER_UNKNOWN) return "(UNKNOWN)";
  return "";
}

found_cell found_ic(engine_state& st, std::int32_t ic_id, int list) {
  cell_list& l = list == active_list_selector ? st.active : st.sleeping;
  for (auto it = l.begin(); it != l.end(); ++it) {
    if (it->id == ic_id) return found_cell{&l, it};
  }
  if (st.rules.warn_missing_cell) st.out.both("found_ic(): ic_id = %d not found!\n", ic_id);
  return found_cell{};
}

id_set cells_accepting(const engine_state& st, std::int32_t msg_type,
                       const std::string& type_name) {
  id_set set;
  for (const ic_record& cell : st.active) {
    if (type_name != "NOT_SPEC" && cell.ic_type != type_name) continue;
    bool accepts = false;
    for (size_t i = 0; i < cell.fg.size() && !accepts; ++i) {
      const std::vector<msg_link>& specs = cell.fg[i].inputs;
      accepts = std::any_of(specs.begin(), specs.end(),
                            [&](const message& spec) { return spec.msg_type == msg_type; });
    }
    if (!accepts) continue;
    set.ids.push_back(cell.id);
    ++set.count;
  }
  std::reverse(set.ids.begin(), set.ids.end());  // the last cell of the list first
  return set;
}

std::int32_t next_receiver(engine_state& st, message& m) {
  if (!m.receivers.empty()) {
    std::int32_t id = m.receivers.front();
    m.receivers.erase(m.receivers.begin());
    if (id == 0) {
      st.out.pg().write("Wrong ic_id = 0 in the case of flag = IC_ID or IC_ID_TYPE.\n<p>");
    }
    return id;
  }
  if (m.orv_id == st.site.orv_id && !m.sym_names.empty()) {
    return st.hooks.find_named_cell(m.sym_names.front()).value_or(0);
  }
  return 0;
}

bool same_message(const message& a, const message& b) {
  if (a.msg_type != b.msg_type || a.sender != b.sender || a.mflag != b.mflag) return false;
  if (a.content && b.content && *a.content != *b.content) return false;
  if (!a.receivers.empty() && !b.receivers.empty() && a.receivers.front() != b.receivers.front()) {
    return false;
  }
  if (a.mflag == IC_TYPE && a.itype && b.itype && *a.itype != *b.itype) return false;
  return true;
}

void clear_queue(engine_state& st) { st.pending.clear(); }

void append_queue(engine_state& st, const message& m) { st.pending.push_back(m); }

bool queue_empty(const engine_state& st) { return st.pending.empty(); }

message take_queue(engine_state& st) {
  message m = std::move(st.pending.front());
  st.pending.pop_front();
  return m;
}

void add_input(ic_record& cell, const message& m) {
  cell.inputs.push_front(msg_node{m.sender, m});
  ++cell.input_count;
}

void add_output_group(ic_record& cell, std::list<output_group> groups) {
  cell.outputs.splice(cell.outputs.begin(), groups);
  ++cell.output_count;
}

void refresh(const engine_state& st, ic_record& cell) {
  cell.birth_time = st.clock;
  cell.max_time = initial_max_time;
}

void sleep_expired(engine_state& st) {
  // Each expired cell goes to the front of the sleeping list as the walk
  // meets it; the others keep their order.
  for (auto it = st.active.begin(); it != st.active.end();) {
    auto next = std::next(it);
    if (it->max_time == 0) {
      it->current_state = STATE_SLEEP;
      st.sleeping.splice(st.sleeping.begin(), st.active, it);
    }
    it = next;
  }
}

ic_record& wake(engine_state& st, cell_list::iterator cell) {
  cell->current_state = STATE_START;
  cell->max_time = initial_max_time;
  cell->birth_time = st.clock;
  st.active.splice(st.active.begin(), st.sleeping, cell);
  return *cell;
}

void set_next_state(engine_state& st, const fg_function& f, cell_list::iterator cell) {
  cell->current_state = f.next_state;
  if (f.next_state != STATE_DEAD && f.next_state != STATE_SLEEP) return;
  cell->max_time = 0;
  if (f.next_state == STATE_DEAD) {
    cell->inputs.clear();
    cell->input_count = 0;
    cell->outputs.clear();
    cell->output_count = 0;
  }
  st.sleeping.splice(st.sleeping.begin(), st.active, cell);
}

int record_sender(ic_record& cell, const message& m) {
  if (m.msg_type == reply_msg_type) return -1;
  int slot = 0;
  for (int i = 0; i < buffer_slots; ++i) {
    if (cell.buffer[i].source == free_slot) {
      slot = i;
      break;
    }
  }
  cell.buffer[slot] = buffer_slot{m.msg_type, m.sender};
  return slot;
}

std::int32_t* same_ic_slot(ic_record& cell, std::int32_t msg_type) {
  if (msg_type == reply_msg_type) return &cell.same_ic_reply;
  if (msg_type < 0 || msg_type >= same_ic_slots) return nullptr;
  return &cell.same_ic[static_cast<size_t>(msg_type)];
}

void set_same_ic(ic_record& cell, std::int32_t msg_type, std::int32_t ic_id) {
  if (std::int32_t* slot = same_ic_slot(cell, msg_type)) *slot = ic_id;
}

message new_message() { return message{}; }

namespace {

// A new cell `id` of the message's IC type at the front of the active list,
// with its type's functions and application memory.
ic_record& push_new_cell(engine_state& st, std::int32_t id, const message& m) {
  ic_record cell;
  cell.id = id;
  cell.ic_type = itype_of(m);
  cell.birth_time = st.clock;
  cell.fg = type_functions(st, cell.ic_type);
  cell.mm = st.hooks.new_internal_mm(cell.ic_type);
  st.active.push_front(std::move(cell));
  return st.active.front();
}

}  // namespace

ic_record* new_cell_from_message(engine_state& st, const message& m) {
  // Without names the cell takes the next id of the store's counter.
  if (st.layout == store_layout::counter) return &push_new_cell(st, st.next_cell_id++, m);
  std::string sym = m.sym_names.empty() ? std::string() : m.sym_names.front();
  ic_sys_name naming{m.server_id, m.orv_id, itype_of(m),
                     m.receivers.empty() ? 0 : m.receivers.front(), m.flag};
  cell_registration reg = st.hooks.register_cell(sym, naming);
  if (reg.status == cell_registration::failed) {
    st.out.pg().write("Error occurs when writing a new record into the naming Database.\n<p>");
    return nullptr;
  }
  if (reg.status == cell_registration::refused) return nullptr;

  ic_record& cell = push_new_cell(st, reg.ic_id, m);
  cell.sym_name = sym;
  if (m.sender <= 0) {
    cell.sys_name = ic_sys_name{m.server_id, m.orv_id, itype_of(m),
                                m.orv_id != st.site.orv_id && !m.receivers.empty()
                                    ? m.receivers.front()
                                    : naming.ic_id,
                                m.flag};
  } else {
    cell.sys_name = ic_sys_name{st.site.server_id, st.site.orv_id, itype_of(m), reg.ic_id, 's'};
  }
  return &cell;
}

}  // namespace engine
