#include "engine/population.h"

#include <algorithm>
#include <map>

#include "engine/cell_store.h"
#include "engine/engine.h"
#include "engine/fg_reader.h"
#include "engine/model.h"

namespace engine {

void population::load(std::string text, store_reading reading) {
  text_ = std::move(text);
  rewritten_.clear();
  load_clock_ = st_.clock;
  store_reader r(text_);
  // The counter layout begins with the next cell id; a store without that
  // line leaves the counter as it is.
  if (st_.layout == store_layout::counter && r.next_line_begins(next_id_label)) {
    st_.next_cell_id = read_next_id(r);
  }
  cell_list loaded;
  store_writer again;
  while (!r.at_end()) {
    const size_t start = r.position();
    // Every block is read whole: the format is checked everywhere, and the
    // application reports the cell as the load reads it.
    ic_record cell = read_cell(st_, r);
    if (reading == store_reading::full) {
      loaded.push_front(std::move(cell));
      continue;
    }
    stored_cell s;
    s.id = cell.id;
    s.current_state = cell.current_state;
    s.max_time = cell.max_time;
    s.input_count = static_cast<std::int32_t>(cell.inputs.size());
    s.ic_type = &*types_.insert(cell.ic_type).first;
    s.has_mm = cell.mm != nullptr;
    s.text = std::string_view(text_).substr(start, r.position() - start);
    // A save writes the cell as `write_cell` writes the record it reads
    // as. Most blocks are written so already (a store the program saved,
    // cells whose lists hold one entry at most), and stay as they are;
    // for the others that text is kept.
    again.clear();
    write_cell(st_, again, cell);
    if (again.str() == s.text) {
      s.saved = s.text;
    } else {
      s.saved = rewritten_.emplace_back(again.str());
    }
    loaded.push_front(s);
  }
  active = std::move(loaded);
}

ic_record& population::reach(const cell_slot& s) {
  if (s.record_) return *s.record_;
  store_reader r(s.stored_.text);
  ic_record cell = read_cell(st_, r, s.stored_.has_mm ? cell_reading::reached_with_mm
                                                      : cell_reading::reached_without_mm);
  cell.birth_time = load_clock_;
  s.record_ = std::make_unique<ic_record>(std::move(cell));
  return *s.record_;
}

ic_record* population::find(cell_list& list, std::int32_t id) {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it.slot().id() == id) return &*it;
  }
  return nullptr;
}

std::vector<std::string_view> population::store_pieces(std::string_view head,
                                                       std::string& fresh) {
  // Reached cells are written one after the other into `fresh`; their
  // places are noted first, as `fresh` may move while it grows.
  struct piece {
    std::string_view text;  // a stored cell's saved text
    size_t from = 0;        // otherwise this range of `fresh`
    size_t to = 0;
  };
  std::vector<piece> order;
  order.reserve(active.size() + 1);
  order.push_back({head, 0, 0});
  store_writer w;
  w.reuse(std::move(fresh));
  for (auto it = active.begin(); it != active.end(); ++it) {
    if (const ic_record* cell = it.slot().record_if_reached()) {
      const size_t from = w.str().size();
      write_cell(st_, w, *cell);
      order.push_back({{}, from, w.str().size()});
    } else {
      order.push_back({it.slot().stored().saved, 0, 0});
    }
  }
  fresh = w.take();
  std::vector<std::string_view> pieces;
  pieces.reserve(order.size());
  for (const piece& p : order) {
    std::string_view t = p.to > p.from ? std::string_view(fresh).substr(p.from, p.to - p.from)
                                       : p.text;
    if (!t.empty()) pieces.push_back(t);
  }
  return pieces;
}

found_cell found_ic(engine_state& st, std::int32_t ic_id, which_list list) {
  cell_list& l = list == which_list::active ? st.cells.active : st.cells.sleeping;
  for (auto it = l.begin(); it != l.end(); ++it) {
    if (it.slot().id() == ic_id) return found_cell{&l, it};
  }
  if (st.rules.warn_missing_cell) st.out.both("found_ic(): ic_id = %d not found!\n", ic_id);
  return found_cell{};
}

namespace {

// True when a function of `chain` has an input spec of `msg_type`.
bool accepts(const fg_chain& chain, std::int32_t msg_type) {
  for (size_t i = 0; i < chain.size(); ++i) {
    const std::vector<msg_link>& specs = chain[i].inputs;
    if (std::any_of(specs.begin(), specs.end(),
                    [&](const message& spec) { return spec.msg_type == msg_type; })) {
      return true;
    }
  }
  return false;
}

}  // namespace

id_set cells_accepting(engine_state& st, std::int32_t msg_type, const std::string& type_name) {
  id_set set;
  // A stored cell reads the functions of its type; the answer for a type
  // is worked out once.
  std::map<std::string, bool, std::less<>> by_type;
  for (auto it = st.cells.active.begin(); it != st.cells.active.end(); ++it) {
    const cell_slot& c = it.slot();
    if (type_name != "NOT_SPEC" && c.ic_type() != type_name) continue;
    bool yes;
    if (const ic_record* cell = c.record_if_reached()) {
      yes = accepts(cell->fg, msg_type);
    } else {
      auto known = by_type.find(c.ic_type());
      if (known == by_type.end()) {
        known = by_type.emplace(c.ic_type(), accepts(type_functions(st, c.ic_type()), msg_type))
                    .first;
      }
      yes = known->second;
    }
    if (!yes) continue;
    set.ids.push_back(c.id());
  }
  std::reverse(set.ids.begin(), set.ids.end());  // the last cell of the list first
  return set;
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
  cell_list& active = st.cells.active;
  for (auto it = active.begin(); it != active.end();) {
    auto next = std::next(it);
    if (it.slot().max_time() == 0) {
      it->current_state = STATE_SLEEP;
      st.cells.sleeping.splice(st.cells.sleeping.begin(), active, it);
    }
    it = next;
  }
}

ic_record& wake(engine_state& st, cell_list::iterator cell) {
  cell->current_state = STATE_START;
  cell->max_time = initial_max_time;
  cell->birth_time = st.clock;
  st.cells.active.splice(st.cells.active.begin(), st.cells.sleeping, cell);
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
  st.cells.sleeping.splice(st.cells.sleeping.begin(), st.cells.active, cell);
}

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
  st.cells.active.push_front(std::move(cell));
  return st.cells.active.front();
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
