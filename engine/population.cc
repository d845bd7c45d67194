#include "engine/population.h"

#include <algorithm>
#include <map>


namespace engine {

void population::load(std::string text, store_reading reading, std::int32_t clock,
                      const std::vector<std::uint32_t>* trusted) {
  // The cells of an earlier load go before its text does: their views
  // point into it.
  active.clear();
  sleeping.clear();
  types_.clear();
  text_ = std::move(text);
  rewritten_.clear();
  load_clock_ = clock;
  if (reading == store_reading::full) trusted = nullptr;
  store_reader r(text_);
  // The counter layout begins with the next cell id; a store without that
  // line leaves the counter as it is.
  if (codec_.layout == store_layout::counter && r.next_line_begins(next_id_label)) {
    next_cell_id = read_next_id(r);
  }
  cell_list loaded;
  store_writer again;
  auto next_full = trusted ? trusted->begin() : std::vector<std::uint32_t>::const_iterator();
  for (std::uint32_t block = 0; !r.at_end(); ++block) {
    const size_t start = r.position();
    stored_cell s;
    const bool in_full = !trusted || (next_full != trusted->end() && *next_full == block);
    if (in_full && trusted) ++next_full;
    if (!in_full) {
      // A block of a store this program saved, that a load and a save give
      // back as it stands: only what the application reports is read.
      ic_record cell = codec_.read_trusted(r, clock, &s.input_count);
      s.id = cell.id;
      s.current_state = cell.current_state;
      s.max_time = cell.max_time;
      s.ic_type = &*types_.insert(std::move(cell.ic_type)).first;
      s.has_mm = cell.mm != nullptr;
      s.text = std::string_view(text_).substr(start, r.position() - start);
      s.saved = s.text;
      s.settled = true;
      loaded.push_front(s);
      continue;
    }
    // Every other block is read whole: the format is checked everywhere,
    // and the application reports the cell as the load reads it.
    ic_record cell = codec_.read(r, clock);
    if (reading == store_reading::full) {
      loaded.push_front(std::move(cell));
      continue;
    }
    s.id = cell.id;
    s.current_state = cell.current_state;
    s.max_time = cell.max_time;
    s.input_count = static_cast<std::int32_t>(cell.inputs.size());
    s.ic_type = &*types_.insert(cell.ic_type).first;
    s.has_mm = cell.mm != nullptr;
    s.text = std::string_view(text_).substr(start, r.position() - start);
    // A save writes the cell as the codec writes the record it reads as.
    // Most blocks are written so already (a store the program saved,
    // cells whose lists hold one entry at most), and stay as they are;
    // for the others that text is kept.
    again.clear();
    codec_.write(again, cell);
    if (again.str() == s.text) {
      s.saved = s.text;
      s.settled = true;
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
  ic_record cell = codec_.read(r, load_clock_,
                               s.stored_.has_mm ? cell_reading::reached_with_mm
                                                : cell_reading::reached_without_mm);
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
                                                       std::string& fresh,
                                                       std::vector<std::uint32_t>* unsettled) {
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
  if (unsettled) unsettled->clear();
  std::uint32_t block = 0;
  for (auto it = active.begin(); it != active.end(); ++it, ++block) {
    if (const ic_record* cell = it.slot().record_if_reached()) {
      const size_t from = w.str().size();
      codec_.write(w, *cell);
      order.push_back({{}, from, w.str().size()});
      if (unsettled) unsettled->push_back(block);
    } else {
      order.push_back({it.slot().stored().saved, 0, 0});
      if (unsettled && !it.slot().stored().settled) unsettled->push_back(block);
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

found_cell population::locate(std::int32_t id, which_list list) {
  cell_list& l = list == which_list::active ? active : sleeping;
  for (auto it = l.begin(); it != l.end(); ++it) {
    if (it.slot().id() == id) return found_cell{&l, it};
  }
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

id_set population::accepting(std::int32_t msg_type, const std::string& type_name) {
  id_set set;
  // A stored cell reads the functions of its type; the answer for a type
  // is worked out once.
  std::map<std::string, bool, std::less<>> by_type;
  for (auto it = active.begin(); it != active.end(); ++it) {
    const cell_slot& c = it.slot();
    if (type_name != "NOT_SPEC" && c.ic_type() != type_name) continue;
    bool yes;
    if (const ic_record* cell = c.record_if_reached()) {
      yes = accepts(cell->fg, msg_type);
    } else {
      auto known = by_type.find(c.ic_type());
      if (known == by_type.end()) {
        known = by_type.emplace(c.ic_type(), accepts(codec_.functions.of(c.ic_type()), msg_type))
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
}

void add_output_group(ic_record& cell, std::list<output_group> groups) {
  cell.outputs.splice(cell.outputs.begin(), groups);
}

void refresh(ic_record& cell, std::int32_t clock) {
  cell.birth_time = clock;
  cell.max_time = initial_max_time;
}

void population::sleep_expired() {
  // Each expired cell goes to the front of the sleeping list as the walk
  // meets it; the others keep their order.
  for (auto it = active.begin(); it != active.end();) {
    auto next = std::next(it);
    if (it.slot().max_time() == 0) {
      it->current_state = STATE_SLEEP;
      sleeping.splice(sleeping.begin(), active, it);
    }
    it = next;
  }
}

ic_record& population::wake(cell_list::iterator cell, std::int32_t clock) {
  cell->current_state = STATE_START;
  cell->max_time = initial_max_time;
  cell->birth_time = clock;
  active.splice(active.begin(), sleeping, cell);
  return *cell;
}

void population::set_next_state(const fg_function& f, cell_list::iterator cell) {
  cell->current_state = f.next_state;
  if (f.next_state != STATE_DEAD && f.next_state != STATE_SLEEP) return;
  cell->max_time = 0;
  if (f.next_state == STATE_DEAD) {
    cell->inputs.clear();
    cell->outputs.clear();
  }
  sleeping.splice(sleeping.begin(), active, cell);
}

ic_record& population::push_new_cell(std::int32_t id, const message& m, std::int32_t clock) {
  ic_record cell;
  cell.id = id;
  cell.ic_type = itype_of(m);
  cell.birth_time = clock;
  cell.fg = codec_.functions.of(cell.ic_type);
  cell.mm = codec_.hooks.new_internal_mm(cell.ic_type);
  active.push_front(std::move(cell));
  return active.front();
}

new_cell_result population::new_cell(const message& m, const site_identity& site,
                                     std::int32_t clock) {
  // Without names the cell takes the next id of the store's counter.
  if (codec_.layout == store_layout::counter) {
    return {&push_new_cell(next_cell_id++, m, clock), false};
  }
  std::string sym = m.sym_names.empty() ? std::string() : m.sym_names.front();
  ic_sys_name naming{m.server_id, m.orv_id, itype_of(m),
                     m.receivers.empty() ? 0 : m.receivers.front(), m.flag};
  cell_registration reg = codec_.hooks.register_cell(sym, naming);
  if (reg.status == cell_registration::failed) return {nullptr, true};
  if (reg.status == cell_registration::refused) return {nullptr, false};

  ic_record& cell = push_new_cell(reg.ic_id, m, clock);
  cell.sym_name = sym;
  if (m.sender <= 0) {
    cell.sys_name = ic_sys_name{m.server_id, m.orv_id, itype_of(m),
                                m.orv_id != site.orv_id && !m.receivers.empty()
                                    ? m.receivers.front()
                                    : naming.ic_id,
                                m.flag};
  } else {
    cell.sys_name = ic_sys_name{site.server_id, site.orv_id, itype_of(m), reg.ic_id, 's'};
  }
  return {&cell, false};
}

}  // namespace engine
