#include "engine/cell_codec.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine {
namespace {

// Labels of the cell header, in block order.
constexpr std::string_view id_label = "id: ";
constexpr std::string_view type_label = "ic type: ";
constexpr std::string_view current_label = "current state: ";
constexpr std::string_view initial_label = "initial state: ";
constexpr std::string_view max_time_label = "max. time: ";
constexpr std::string_view sym_label = "ic symbolic name: ";
constexpr std::string_view sys_server_label = "ic sys name -- server id: ";
constexpr std::string_view sys_orv_label = "ic sys name -- orv id: ";
constexpr std::string_view sys_type_label = "ic sys name -- ic type: ";
constexpr std::string_view sys_id_label = "ic sys name -- ic id: ";
constexpr std::string_view sys_flag_label = "ic sys name -- flag: ";
constexpr std::string_view input_label = "input list: ";
constexpr std::string_view output_label = "output list: ";
constexpr std::string_view same_ic_label = "same ic: ";

// A count of list entries; negative counts do not occur in a store.
std::int32_t count_after(store_reader& r, std::string_view label) {
  std::optional<std::int32_t> n = parse_int(r.labelled(label));
  if (!n || *n < 0) r.fail("\"" + std::string(label) + "\" must be followed by a count");
  return *n;
}

std::int32_t number_after(store_reader& r, std::string_view label) {
  std::optional<std::int32_t> n = parse_int(r.labelled(label));
  if (!n) r.fail("\"" + std::string(label) + "\" must be followed by a number");
  return *n;
}

// The first word of `s` (empty when there is none). A carriage return
// ends a word too: it is part of a line end, which a save would drop.
std::string first_word(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  size_t b = 0;
  while (b < s.size() && blank(s[b])) ++b;
  size_t e = b;
  while (e < s.size() && !blank(s[e])) ++e;
  return std::string(s.substr(b, e - b));
}

void write_input(store_writer& w, const msg_node& n) {
  const message& m = n.msg;
  w.numbers({n.source, m.msg_type, m.mflag});
  w.number(m.sender);
  w.text(m.sym_names.empty() ? std::string() : m.sym_names.front());
  w.text(m.server_id);
  w.text(m.orv_id);
  w.optional_text(m.itype);
  // An empty receiver list is kept as an empty line.
  w.line(m.receivers.empty() ? std::string() : std::to_string(m.receivers.front()));
  w.character(m.flag);
  w.optional_text(m.content);
  w.fuzzy(m.fuzzy);
}

// Counter layout: the entry's numbers, itype and content only.
void write_short_input(store_writer& w, const msg_node& n) {
  w.numbers({n.source, n.msg.msg_type, n.msg.mflag});
  w.optional_text(n.msg.itype);
  w.optional_text(n.msg.content);
}

msg_node read_short_input(store_reader& r) {
  msg_node n;
  std::vector<std::int32_t> head = r.numbers("an input entry", 3);
  n.source = head[0];
  n.msg.msg_type = head[1];
  n.msg.mflag = head[2];
  n.msg.sender = n.source;  // the source is the sender the entry was made from
  n.msg.itype = r.optional_text("the ic type of an input entry", false);
  n.msg.content = r.optional_text("the content of an input entry", false);
  return n;
}

msg_node read_input(store_reader& r) {
  msg_node n;
  std::vector<std::int32_t> head = r.numbers("an input entry", 3);
  n.source = head[0];
  message& m = n.msg;
  m.msg_type = head[1];
  m.mflag = head[2];
  m.sender = r.number("the sender of an input entry");
  std::string sym = r.trimmed_text("the symbolic name of an input entry");
  if (!sym.empty()) m.sym_names.push_back(std::move(sym));
  m.server_id = r.trimmed_text("the server id of an input entry");
  m.orv_id = r.trimmed_text("the orv id of an input entry");
  m.itype = r.optional_text("the ic type of an input entry");
  std::string_view receiver = trim_trailing_spaces(r.line("the receiver of an input entry"));
  if (!receiver.empty()) {
    std::optional<std::int32_t> id = parse_int(receiver);
    if (!id) r.fail("the receiver of an input entry must be a number");
    m.receivers.push_back(*id);
  }
  m.flag = r.character("the flag of an input entry");
  m.content = r.optional_text("the content of an input entry");
  m.fuzzy = r.fuzzy("the fuzzy value of an input entry");
  return n;
}

}  // namespace

void cell_codec::write(store_writer& w, const ic_record& cell) const {
  const bool named = layout == store_layout::site;
  w.labelled(id_label, cell.id);
  w.labelled(type_label, cell.ic_type);
  w.labelled(current_label, cell.current_state);
  w.labelled(initial_label, cell.initial_state);
  w.labelled(max_time_label, cell.max_time);
  if (named) {
    if (needs_encoding(cell.sym_name)) {
      w.labelled(sym_label, force_encode_text(cell.sym_name));
    } else {
      w.labelled(sym_label, cell.sym_name);
    }
    w.labelled(sys_server_label, cell.sys_name.server_id);
    w.labelled(sys_orv_label, cell.sys_name.orv_id);
    w.labelled(sys_type_label, cell.sys_name.ic_type);
    w.labelled(sys_id_label, cell.sys_name.ic_id);
    w.labelled(sys_flag_label, cell.sys_name.flag ? std::string_view(&cell.sys_name.flag, 1)
                                                   : std::string_view());
  }

  w.labelled(input_label, static_cast<long long>(cell.inputs.size()));
  for (const msg_node& n : cell.inputs) {
    if (named) {
      write_input(w, n);
    } else {
      write_short_input(w, n);
    }
  }

  w.labelled(output_label, static_cast<long long>(cell.outputs.size()));
  for (const output_group& g : cell.outputs) {
    w.number(static_cast<long long>(g.msgs.size()));
    for (const msg_node& n : g.msgs) w.numbers({n.source, n.msg.msg_type, n.msg.mflag});
  }

  int taken = 0;
  for (std::int32_t v : cell.same_ic) taken += v != -1;
  w.labelled(same_ic_label, taken);
  for (int i = 0; i < same_ic_slots; ++i) {
    if (cell.same_ic[static_cast<size_t>(i)] != -1) {
      w.numbers({i, cell.same_ic[static_cast<size_t>(i)]});
    }
  }

  if (named) hooks.save_mm(w, cell);
}

std::int32_t read_next_id(store_reader& r) { return number_after(r, next_id_label); }

namespace {

// The header of a cell block: id, type, states, life time and, in the site
// layout, the names. `all` false passes over what a trusted load does not
// keep (the initial state and the names).
void read_header(store_reader& r, ic_record& cell, bool named, bool all = true) {
  cell.id = number_after(r, id_label);
  cell.ic_type = first_word(r.labelled(type_label));
  cell.current_state = number_after(r, current_label);
  if (all) {
    cell.initial_state = number_after(r, initial_label);
  } else {
    r.pass(1, "the initial state");
  }
  cell.max_time = number_after(r, max_time_label);
  if (named && !all) {
    r.pass(6, "the names of the cell");
  } else if (named) {
    cell.sym_name = decode_text(r.labelled(sym_label));
    cell.sys_name.server_id = first_word(r.labelled(sys_server_label));
    cell.sys_name.orv_id = first_word(r.labelled(sys_orv_label));
    cell.sys_name.ic_type = first_word(r.labelled(sys_type_label));
    cell.sys_name.ic_id = number_after(r, sys_id_label);
    std::string_view flag = r.labelled(sys_flag_label);
    cell.sys_name.flag = flag.empty() || flag[0] == '\r' ? '\0' : flag[0];
  }
}

}  // namespace

ic_record cell_codec::read(store_reader& r, std::int32_t clock, cell_reading why) const {
  ic_record cell;
  const bool named = layout == store_layout::site;
  read_header(r, cell, named);
  cell.birth_time = clock;

  std::int32_t n = count_after(r, input_label);
  for (std::int32_t i = 0; i < n; ++i) {
    cell.inputs.push_front(named ? read_input(r) : read_short_input(r));
  }

  std::int32_t g = count_after(r, output_label);
  for (std::int32_t i = 0; i < g; ++i) {
    std::int32_t k = r.number("the size of an output group");
    if (k < 0) r.fail("the size of an output group must not be negative");
    output_group group;
    for (std::int32_t j = 0; j < k; ++j) {
      std::vector<std::int32_t> v = r.numbers("an output message", 3);
      msg_node node;
      node.source = v[0];
      node.msg.msg_type = v[1];
      node.msg.mflag = v[2];
      // Only these three fields are stored; the message came from this
      // cell and went to the stored receiver (to the cell itself when the
      // receiver is the self code).
      node.msg.sender = cell.id;
      node.msg.receivers.push_back(v[0] == OUT_SELF ? cell.id : v[0]);
      group.msgs.insert(group.msgs.begin(), std::move(node));
    }
    cell.outputs.push_front(std::move(group));
  }

  std::int32_t s = count_after(r, same_ic_label);
  for (std::int32_t i = 0; i < s; ++i) {
    std::vector<std::int32_t> v = r.numbers("a same ic entry", 2);
    if (v[0] < 0 || v[0] >= same_ic_slots) r.fail("a same ic slot must lie in 0..49");
    cell.same_ic[static_cast<size_t>(v[0])] = v[1];
  }

  cell.fg = functions.of(cell.ic_type);
  if (why != cell_reading::reached_without_mm) cell.mm = hooks.new_internal_mm(cell.ic_type);
  if (named) {
    hooks.load_mm(r, cell, why == cell_reading::at_load ? mm_reading::load : mm_reading::reach);
  }
  return cell;
}

ic_record cell_codec::read_trusted(store_reader& r, std::int32_t clock,
                                   std::int32_t* input_count) const {
  // The block is the text a save wrote: only what the population keeps of
  // an unreached cell (its id, type, state, life time and the size of its
  // input list) and what the application reports is read; the rest is
  // passed over. The cell is dropped after this, and read again in full if
  // the run reaches it.
  ic_record cell;
  const bool named = layout == store_layout::site;
  read_header(r, cell, named, false);
  cell.birth_time = clock;
  // Every entry of the lists is a fixed number of lines (each field is one
  // line): an input entry ten in the site layout and three in the counter
  // layout, an output message one, a same ic entry one.
  const std::int32_t n = count_after(r, input_label);
  *input_count = n;
  r.pass(static_cast<std::int64_t>(n) * (named ? 10 : 3), "an input entry");
  const std::int32_t g = count_after(r, output_label);
  for (std::int32_t i = 0; i < g; ++i) {
    std::int32_t k = r.number("the size of an output group");
    if (k < 0) r.fail("the size of an output group must not be negative");
    r.pass(k, "an output message");
  }
  r.pass(count_after(r, same_ic_label), "a same ic entry");
  cell.mm = hooks.new_internal_mm(cell.ic_type);
  if (named) hooks.load_mm(r, cell, mm_reading::load_head);
  return cell;
}

}  // namespace engine
