#include "engine/ic_manager.h"

#include <algorithm>
#include <set>
#include <vector>

#include "engine/fg_reader.h"
#include "engine/firing.h"
#include "engine/message_queue.h"
#include "engine/model.h"
#include "engine/params.h"
#include "engine/senders.h"
#include "platform/platform.h"

namespace engine {
namespace {

constexpr int max_stale_retries = 100;

// The first cell with `ic_id` in the list `list`. A miss writes
// "found_ic(): ic_id = %d not found!\n" to the page and the trace, unless
// the program's rules turn that warning off.
found_cell found_ic(engine_state& st, std::int32_t ic_id, which_list list) {
  found_cell f = st.cells.locate(ic_id, list);
  if (!f && st.rules.warn_missing_cell) st.out.both("found_ic(): ic_id = %d not found!\n", ic_id);
  return f;
}

message base_message(const ext_message& ext, std::int32_t msg_type,
                     const std::optional<std::string>& content) {
  message m;
  m.mflag = ext.flag;
  m.msg_type = msg_type;
  m.sender = SENDER_EXTERNAL;
  m.sym_names = {ext.ic_sym_name};
  m.server_id = ext.receiver.server_id;
  m.orv_id = ext.receiver.orv_id;
  m.itype = ext.ic_type;
  m.receivers = {ext.receiver.ic_id};
  m.flag = ext.receiver.flag;
  m.fuzzy = 0.7f;
  m.content = content;
  return m;
}

// What became of the delivery of a message by id.
enum class delivery {
  done,    // every receiver has it
  create,  // it turned into a request to create a cell (`m.mflag` is IC_TYPE)
  stop,    // a receiver is missing and the IC manager run ends
  stop_delivery,  // a receiver is missing; the message goes no further
};

// True when a new cell of `type` could fire on a message of `msg_type`:
// a transition of the initial state consumes that type. "NOT_SPEC" names
// no one type, and is taken as able.
bool initial_state_consumes(engine_state& st, const std::string& type, std::int32_t msg_type) {
  if (type == "NOT_SPEC") return true;
  fg_chain chain = st.functions.of(type);
  for (const fg_function& f : chain.view()) {
    if (f.current_state != 0) continue;
    for (const message& spec : f.inputs) {
      if (spec.msg_type == msg_type) return true;
    }
  }
  return false;
}

// A receiver `id` that is in neither list, under the program's rules.
delivery missing(engine_state& st, message& m, std::int32_t id) {
  if (st.rules.on_missing == missing_receiver::create_cell) {
    // A cell made for a message it can never consume would only sit in
    // the store: none is made, and delivery ends as it would on creation.
    const std::string type = itype_of(m);
    if (!initial_state_consumes(st, type, m.msg_type)) {
      std::string name = std::to_string(m.msg_type);
      for (const message_type_name& t : st.msg_types) {
        if (t.number == m.msg_type) name = t.name;
      }
      st.out.pg().print("No cell has id %d, and a new cell of type %s could not take the "
                        "message %s: no cell is created.\n <br>",
                        id, type, name);
      return delivery::stop_delivery;
    }
    m.mflag = IC_TYPE;
    return delivery::create;
  }
  if (m.mflag == IC_ID) {
    const std::string type = itype_of(m);
    st.out.pg().print("The receiving index cell (with type = %s and id = %d) is NOT found.\n <br>",
                      type, id);
    st.out.pg().print("The receiving index cell (wth type = %s and id = %d) is NOT found.\n <br>",
                      type, id);
    return delivery::stop;
  }
  m.mflag = IC_TYPE;  // the other receivers still get it; then a cell is made
  return delivery::done;
}

// Delivers `m` to its receivers by id.
delivery deliver(engine_state& st, message& m) {
  if (st.rules.fill_zero_receiver && !m.receivers.empty() && m.receivers.front() == 0) {
    id_set set = st.cells.accepting(m.msg_type, itype_of(m));
    m.receivers = set.ids;
    if (set.ids.empty()) {
      m.mflag = IC_TYPE;
      return delivery::create;
    }
  }
  message work = m;
  std::set<std::int32_t> delivered;
  bool named_done = false;
  for (;;) {
    // The name of a message names one cell: it is asked for once, and its
    // cell gets the message once.
    bool by_name = work.receivers.empty();
    if (by_name && named_done) break;
    std::int32_t id = next_receiver(st, work);
    if (by_name) named_done = true;
    if (id == 0) break;
    if (by_name && delivered.count(id)) break;
    if (found_cell a = found_ic(st, id, which_list::active)) {
      refresh(*a.cell(), st.clock);
      add_input(*a.cell(), m);
    } else if (found_cell s = found_ic(st, id, which_list::sleeping)) {
      add_input(st.cells.wake(s.at, st.clock), m);
    } else {
      delivery d = missing(st, m, id);
      if (d != delivery::done) return d;
      continue;
    }
    delivered.insert(id);
  }
  return m.mflag == IC_TYPE ? delivery::create : delivery::done;
}

// Points the sender's output group of `sent` at the cell made for it, and
// makes the new cell's copy of the message match that group.
void point_sender_at(engine_state& st, const message& sent, bool by_fallback, ic_record& made) {
  ic_record* sender = st.cells.find(st.cells.active, sent.sender);
  if (!sender) return;
  set_same_ic(*sender, sent.msg_type, made.id);
  for (output_group& g : sender->outputs) {
    if (g.msgs.empty()) continue;
    msg_node& first = g.msgs.front();
    if (!same_message(sent, first.msg)) continue;
    if (first.msg.mflag != IC_TYPE && !by_fallback) continue;
    first.source = made.id;
    if (first.msg.receivers.empty()) first.msg.receivers.push_back(made.id);
    else first.msg.receivers.front() = made.id;
    // The copy the new cell holds is the same message as the group's.
    message& copy = made.inputs.front().msg;
    copy.receivers = first.msg.receivers;
    copy.mflag = first.msg.mflag;
    return;
  }
}

// Where the sender of assigned input `s` keeps it: groups newest first,
// messages in group order, groups already claimed by this firing passed
// over. None when the sender is dead or exists nowhere.
std::optional<withdrawal> find_sent(engine_state& st, const message& s,
                                    const std::list<withdrawal>& claimed) {
  found_cell f = found_ic(st, s.sender, which_list::active);
  if (!f) f = found_ic(st, s.sender, which_list::sleeping);
  if (!f || f.cell()->current_state == STATE_DEAD) return std::nullopt;
  for (const output_group& g : f.cell()->outputs) {
    bool taken = std::any_of(claimed.begin(), claimed.end(),
                             [&](const withdrawal& w) { return w.group == &g; });
    if (taken) continue;
    for (const msg_node& n : g.msgs) {
      if (!same_message(s, n.msg)) continue;
      const msg_node& first = g.msgs.front();
      std::int32_t receiver = first.msg.receivers.empty() ? first.source
                                                          : first.msg.receivers.front();
      return withdrawal{s.sender, &g, receiver, first.msg.msg_type};
    }
  }
  return std::nullopt;
}

// The firing of `f` by the cell at `it`, its inputs checked.
void fire(engine_state& st, cell_list::iterator it, fg_function& f,
          const std::list<withdrawal>& withdrawals) {
  ic_record& cell = *it;
  for (const message& s : f.inputs) {
    if (s.sender > 0) record_sender(cell, s);
  }
  remove_output(st, cell.id, withdrawals);
  cell.bindings.clear();
  for (message& s : f.inputs) s.content = remove_input_dyn(st, s, cell);
  run_actions(st, f, cell);
  std::list<output_group> groups = make_outputs(st, cell, f);
  for (const output_group& g : groups) {
    for (const msg_node& n : g.msgs) append_queue(st, n.msg);
  }
  if (!groups.empty()) add_output_group(cell, std::move(groups));
  st.cells.set_next_state(f, it);
}

// One scan of the active list: the first cell that can fire does.
void scan(engine_state& st) {
  auto it = st.cells.active.begin();
  int retries = 0;
  bool fired = false;
  while (it != st.cells.active.end() && !fired) {
    auto next = std::next(it);
    bool stale = false;
    // A cell with no input has nothing to fire on: it is passed over
    // without being reached.
    fg_function* f = it.slot().no_inputs() ? nullptr : select_function(st, *it);
    if (f) {
      fired = true;
      std::list<withdrawal> withdrawals;
      for (const message& s : f->inputs) {
        if (s.sender <= 0) continue;
        std::optional<withdrawal> w = find_sent(st, s, withdrawals);
        if (!w) {
          remove_input(st, s, *it);
          fired = false;
          stale = true;
          withdrawals.clear();
          break;
        }
        withdrawals.push_front(*w);
      }
      if (fired) fire(st, it, *f, withdrawals);
    }
    if (!stale) {
      it = next;
      retries = 0;
    } else if (++retries > max_stale_retries) {
      it = next;
      st.out.pg().write("ic_manager: warning: check the program. You may get infinite loop.\n <br>");
      retries = 0;
    }
  }
}

}  // namespace

namespace {

// Removes the first input of `cell` equal to `spec` and returns its content,
// bound to the spec's template when `bind` is set; `who` names the caller
// in the warning when there is none.
std::optional<std::string> take_input(engine_state& st, const message& spec, ic_record& cell,
                                      std::string_view who, bool bind) {
  for (auto it = cell.inputs.begin(); it != cell.inputs.end(); ++it) {
    if (!same_message(spec, it->msg)) continue;
    std::optional<std::string> content = it->msg.content;
    cell.inputs.erase(it);
    if (bind) bind_inputs(spec.params, content, cell);
    return content;
  }
  st.out.pg().print("%s: Warning: can't find msg of type: %d\n", who, spec.msg_type);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> remove_input(engine_state& st, const message& spec, ic_record& cell) {
  return take_input(st, spec, cell, "remove_input", false);
}

std::optional<std::string> remove_input_dyn(engine_state& st, const message& spec,
                                            ic_record& cell) {
  return take_input(st, spec, cell, "remove_input_dyn", true);
}

void remove_output(engine_state& st, std::int32_t consumer, const std::list<withdrawal>& list) {
  for (const withdrawal& w : list) {
    ic_record* sender = st.cells.find(st.cells.active, w.sender);
    if (!sender) continue;  // gone to sleep meanwhile
    set_same_ic(*sender, w.msg_type, consumer);
    auto g = std::find_if(sender->outputs.begin(), sender->outputs.end(),
                          [&](const output_group& x) { return &x == w.group; });
    if (g == sender->outputs.end()) {
      st.out.pg().print("remove_output: Warning: can't find output ic with id = %d\n",
                        w.first_receiver);
      st.out.pg().print("                        can't find output msg of type = %d\n",
                        w.msg_type);
      continue;
    }
    for (const msg_node& n : g->msgs) {
      if (n.source == consumer || n.source == OUT_SELF) continue;
      ic_record* receiver = st.cells.find(st.cells.active, n.source);
      if (receiver) remove_input(st, n.msg, *receiver);
    }
    sender->outputs.erase(g);
  }
}

void ic_manager(engine_state& st, message first) {
  clear_queue(st);
  append_queue(st, first);
  std::int64_t taken = 0;
  while (!queue_empty(st)) {
    // A transition that keeps feeding itself would hold the site's run
    // lock for ever: the run stops at a bound far beyond any real exchange,
    // with the cells as they are after the last firing.
    if (++taken > max_messages_per_run) {
      st.out.both("The IC manager stops after %d messages: a transition may feed itself.<p>\n",
                  static_cast<int>(max_messages_per_run));
      clear_queue(st);
      return;
    }
    message m = take_queue(st);
    const message sent = m;
    delivery d = delivery::done;
    if (m.mflag == IC_ID || m.mflag == IC_ID_TYPE) d = deliver(st, m);
    if (d == delivery::stop) {
      clear_queue(st);  // the messages still queued are dropped
      return;
    }
    const bool by_fallback = d == delivery::create;

    if (m.mflag == IC_TYPE) {
      ic_record* made = new_cell_from_message(st, m);
      if (!made) {
        st.out.pg().write("The IC can't be created.\n<p>");
        continue;
      }
      add_input(*made, m);
      if (m.sender > 0) point_sender_at(st, sent, by_fallback, *made);
    }
    st.cells.sleep_expired();
    scan(st);
  }
}

void handle_ext_message(engine_state& st, const ext_message& ext) {
  std::int32_t msg_type =
      ext.kind == KIND_TYPE_NAME ? encode_msg(st, ext.msg_type_name) : ext.msg_type;
  std::optional<std::string> content;
  if (ext.content_flag == CONTENT_TEXT) {
    content = ext.content;
  } else {
    // A content file is taken by the exchange, which hands its text on as
    // CONTENT_TEXT; the engine itself never reads the site's directory.
    st.out.pg().print("Unknown content_flag = %d\n", ext.content_flag);
  }
  message base = base_message(ext, msg_type, content);
  const std::int32_t id = ext.receiver.ic_id;

  if (ext.flag == IC_ID_TYPE && id <= 0) {
    print_twice(st, "Flag oldnew (or IC_ID_TYPE) must be given ic id > 0\n");
  } else if (ext.flag == IC_TYPE) {
    ic_manager(st, base);
  } else if (ext.flag != IC_ID && ext.flag != IC_ID_TYPE) {
    print_twice(st, "Unknown message flag %d\n", ext.flag);
  } else if (id > 0) {
    ic_manager(st, base);
  } else if (id == RECEIVER_ALL_ACCEPTING) {
    id_set set = st.cells.accepting(msg_type, ext.ic_type);
    std::vector<std::int32_t> ids = set.ids;
    std::sort(ids.begin(), ids.end(), std::greater<>());
    for (std::int32_t target : ids) {
      message m = base;
      m.sym_names.clear();
      m.receivers = {target};
      ic_manager(st, m);
    }
  } else if (id == RECEIVER_ALTERNATIVES || id == RECEIVER_PASSED_6 || id == RECEIVER_PASSED_7 ||
             id == RECEIVER_NO_CELL) {
    // addressed to no cell of this site
  } else {
    print_twice(st, "Unexpected ic_id = %d\n", id);
  }
}

ic_record* new_cell_from_message(engine_state& st, const message& m) {
  new_cell_result made = st.cells.new_cell(m, st.site, st.clock);
  if (made.failed) {
    st.out.pg().write("Error occurs when writing a new record into the naming Database.\n<p>");
  }
  return made.cell;
}

}  // namespace engine
