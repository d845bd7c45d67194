#include "engine/cell_store.h"

#include <cstdint>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "engine/fg_reader.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "platform/site_file.h"

namespace engine {
namespace {

using formdecode::run_exit;

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

void write_cell(engine_state& st, store_writer& w, const ic_record& cell) {
  const bool named = st.layout == store_layout::site;
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

  if (named) st.hooks.save_mm(w, cell);
}

std::int32_t read_next_id(store_reader& r) { return number_after(r, next_id_label); }

ic_record read_cell(engine_state& st, store_reader& r, cell_reading why) {
  ic_record cell;
  cell.id = number_after(r, id_label);
  cell.ic_type = first_word(r.labelled(type_label));
  cell.current_state = number_after(r, current_label);
  cell.initial_state = number_after(r, initial_label);
  cell.max_time = number_after(r, max_time_label);
  const bool named = st.layout == store_layout::site;
  if (named) {
    cell.sym_name = decode_text(r.labelled(sym_label));
    cell.sys_name.server_id = first_word(r.labelled(sys_server_label));
    cell.sys_name.orv_id = first_word(r.labelled(sys_orv_label));
    cell.sys_name.ic_type = first_word(r.labelled(sys_type_label));
    cell.sys_name.ic_id = number_after(r, sys_id_label);
    std::string_view flag = r.labelled(sys_flag_label);
    cell.sys_name.flag = flag.empty() || flag[0] == '\r' ? '\0' : flag[0];
  }
  cell.birth_time = st.clock;

  std::int32_t n = count_after(r, input_label);
  cell.input_count = n;
  for (std::int32_t i = 0; i < n; ++i) {
    cell.inputs.push_front(named ? read_input(r) : read_short_input(r));
  }

  std::int32_t g = count_after(r, output_label);
  cell.output_count = g;
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

  cell.fg = type_functions(st, cell.ic_type);
  if (why != cell_reading::reached_without_mm) cell.mm = st.hooks.new_internal_mm(cell.ic_type);
  if (named) {
    st.hooks.load_mm(r, cell, why == cell_reading::at_load ? mm_reading::load : mm_reading::reach);
  }
  return cell;
}

cell_list parse_store(engine_state& st, std::string_view text) {
  store_reader r(text);
  cell_list loaded;
  // The counter layout begins with the next cell id; a store without that
  // line leaves the counter as it is.
  if (st.layout == store_layout::counter && r.next_line_begins(next_id_label)) {
    st.next_cell_id = read_next_id(r);
  }
  // Each cell is put in front of the ones read before it.
  while (!r.at_end()) loaded.push_front(read_cell(st, r));
  return loaded;
}

void load_all_cells(engine_state& st) {
  st.cells.active.clear();
  std::string err;
  std::optional<std::string> data = platform::read_site_file(store_file, &err);
  if (!data && !err.empty()) {
    // Only a missing store is an empty one: a store that exists but cannot
    // be read is never saved over.
    st.out.both("Error: can't read %s; nothing is changed.\n<p>", err);
    throw run_exit{1};
  }
  if (!data) {
    st.out.tr().print("Can't open backup file %s. <br>\n", store_file);
    return;
  }
  try {
    st.cells.load(std::move(*data), st.reading);
  } catch (const store_error& e) {
    // The description names labels and fields only, never file data.
    st.out.pg().print_markup("The cell store %s is damaged at line %d: %s.<p>\n", store_file,
                             e.line, e.what);
    st.out.tr().print("The cell store %s is damaged at line %d: %s.<p>\n", store_file, e.line,
                      e.what);
    throw run_exit{1};
  }
  st.hooks.cells_loaded();
  if (st.layout == store_layout::counter) {
    // A new cell never takes the id of a cell that exists, whatever the
    // counter line says (or when it is missing).
    for (const cell_list* l : {&st.cells.active, &st.cells.sleeping}) {
      for (auto it = l->begin(); it != l->end(); ++it) {
        std::int32_t id = it.slot().id();
        if (id >= st.next_cell_id && id < INT32_MAX) st.next_cell_id = id + 1;
      }
    }
  }
}

void save_all_cells(
    engine_state& st,
    const std::function<void(const std::vector<std::string_view>&)>& before_write) {
  if (!platform::is_directory(backup_dir)) platform::make_directory(backup_dir);
  std::string head;
  if (st.layout == store_layout::counter) {
    store_writer w;
    w.labelled(next_id_label, st.next_cell_id);
    head = w.take();
  }
  std::string fresh;
  const std::vector<std::string_view> text = st.cells.store_pieces(head, fresh);
  if (before_write) before_write(text);
  std::string err;
  // The backup copy and the new store are both written before either is
  // put in place, so the system writes the one to the disk while the
  // program writes the other. The copy is filed first: a save that cannot
  // file it changes nothing. It is a file of its own, so writing over
  // `file.ic` (a copy put back by hand) never changes a backup.
  const bool with_copy = st.layout == store_layout::site;
  // The number is chosen before the copy is written beside its name (which
  // changes the folder the hint of the number speaks of).
  const backup_plan plan = with_copy ? plan_backup(store_file) : backup_plan{};
  std::optional<platform::aside_file> copy =
      with_copy ? platform::aside_file::write(backup_name(store_file, plan.number), text, &err)
                : std::nullopt;
  if (with_copy && !copy) {
    st.out.both("Can't file a backup copy of %s in %s: %s<p>\n", store_file, backup_dir, err);
    throw run_exit{1};
  }
  std::optional<platform::aside_file> store = platform::aside_file::write(store_file, text, &err);
  if (!store) {
    st.out.both("Can't write the cell store %s: %s<p>\n", store_file, err);
    throw run_exit{1};
  }
  std::string backup;
  if (copy) {
    std::optional<std::string> filed = file_backup_copy(store_file, plan, *copy, &err);
    if (!filed) {
      st.out.both("Can't file a backup copy of %s in %s: %s<p>\n", store_file, backup_dir, err);
      throw run_exit{1};
    }
    backup = *filed;
  }
  if (!store->sync(&err) || !store->rename_to(store_file, &err)) {
    if (!backup.empty()) platform::remove_file(backup);  // a copy of a store never saved
    st.out.both("Can't write the cell store %s: %s<p>\n", store_file, err);
    throw run_exit{1};
  }
}

namespace {

// The backup number of `name` ("file.ic.b12" gives 12 for the prefix
// "file.ic.b"), or -1 when it is not a name of ours.
long long backup_number(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return -1;
  std::string digits = name.substr(prefix.size());
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  long long n = std::stoll(digits);
  return std::to_string(n) == digits ? n : -1;
}

// The lowest free backup number from one listing of `BACKUP`, and whether
// every number above it is free too.
struct free_number {
  long long lowest = 0;
  bool none_above = true;
};

free_number lowest_free_number(const std::string& store_name) {
  const std::string prefix = store_name + ".b";
  std::vector<bool> taken;
  bool far_above = false;
  for (const std::string& name : platform::list_file_names(backup_dir)) {
    long long n = backup_number(name, prefix);
    if (n < 0) continue;
    // Numbers are at most 9 digits; a very high one is only noted.
    if (n >= 100000000) {
      far_above = true;
      continue;
    }
    if (static_cast<size_t>(n) >= taken.size()) taken.resize(static_cast<size_t>(n) + 1);
    taken[static_cast<size_t>(n)] = true;
  }
  size_t next = 0;
  while (next < taken.size() && taken[next]) ++next;
  return {static_cast<long long>(next), next == taken.size() && !far_above};
}

// The hint beside `BACKUP`: the next free number of a store's backups, and
// the stamp `BACKUP` had right after that store's latest backup was filed.
// The hint holds while the stamp is unchanged (nothing was added to or
// removed from `BACKUP` since), so a save need not list the folder.
std::string hint_file(const std::string& store_name) {
  return std::string(backup_dir) + "." + store_name + ".next";
}

std::optional<long long> hinted_number(const std::string& store_name) {
  std::optional<std::string> text = platform::read_file(hint_file(store_name));
  std::optional<std::string> stamp = platform::directory_stamp(backup_dir);
  if (!text || !stamp) return std::nullopt;
  size_t nl = text->find('\n');
  if (nl == std::string::npos || text->substr(nl + 1) != *stamp + "\n") return std::nullopt;
  std::optional<std::int32_t> n = parse_int(std::string_view(*text).substr(0, nl));
  if (!n || *n < 0) return std::nullopt;
  return *n;
}

// Records `next` as the next free number, with the stamp of `BACKUP` taken
// after its time was set back: any later change of the folder, even in the
// same tick of the clock, gives it a newer time and so voids the hint.
void record_hint(const std::string& store_name, long long next) {
  std::string hint = hint_file(store_name);
  std::optional<std::string> stamp;
  if (platform::backdate_modification(backup_dir)) stamp = platform::directory_stamp(backup_dir);
  if (!stamp) {
    platform::remove_file(hint);  // the next save lists the folder
    return;
  }
  platform::replace_file(hint, std::to_string(next) + "\n" + *stamp + "\n", nullptr, false);
}

}  // namespace

std::string next_backup_name(const std::string& store_name) {
  return backup_name(store_name, lowest_free_number(store_name).lowest);
}

bool backups_unchanged(const std::string& store_name) {
  return hinted_number(store_name).has_value();
}

backup_plan plan_backup(const std::string& store_name) {
  // A hint is recorded only while the backups are numbered without a gap
  // from 0, so the number after the one taken is the next free one.
  if (std::optional<long long> hinted = hinted_number(store_name)) return {*hinted, true, true};
  free_number free = lowest_free_number(store_name);
  return {free.lowest, false, free.none_above};
}

std::string backup_name(const std::string& store_name, long long number) {
  return std::string(backup_dir) + "/" + store_name + ".b" + std::to_string(number);
}

std::optional<std::string> file_backup_copy(const std::string& store_name, backup_plan plan,
                                            platform::aside_file& copy, std::string* err) {
  if (!copy.sync(err)) return std::nullopt;
  long long n = plan.number;
  // The name is free unless something other than a regular file holds it,
  // or another process took it meanwhile: then the next number is tried. A
  // hint that names a taken number is wrong: the folder is listed again.
  for (int attempt = 0; attempt < 1000; ++attempt, ++n) {
    const std::string name = backup_name(store_name, n);
    int e = copy.link_to(name);
    if (e == EEXIST) {
      if (plan.hinted) {
        plan.hinted = false;
        n = lowest_free_number(store_name).lowest - 1;
      }
      plan.none_above = false;
      continue;
    }
    if (e != 0) {
      *err = name + ": " + std::strerror(e);
      return std::nullopt;
    }
    if (plan.none_above) {
      record_hint(store_name, n + 1);
    } else {
      platform::remove_file(hint_file(store_name));  // the next save lists the folder
    }
    return name;
  }
  *err = "no free backup number from " + std::to_string(plan.number);
  return std::nullopt;
}

}  // namespace engine
