#include "engine/firing.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "engine/model.h"
#include "engine/params.h"

namespace engine {
namespace {

// Gives `spec` the fields of `input`, keeping its parameter template.
void assign(message& spec, const message& input) {
  std::vector<parameter> params = std::move(spec.params);
  spec = input;
  spec.params = std::move(params);
}

// Searches the assignments of `inputs` to the specs of function `index` of
// `cell` in the order of their numbers a = sum d_j * n^j. The most
// significant digit is chosen first, each digit in increasing order, so
// the assignments come in increasing a; a prefix whose last input has the
// wrong type or repeats an input is dropped with everything below it.
// Calls `accept` for each full match until it says yes. Only a full match
// writes into the function (its specs take the inputs), so only then does
// the cell take its own copy of that function.
class assignment_search {
 public:
  assignment_search(const std::vector<const msg_node*>& inputs, ic_record& cell, size_t index)
      : inputs_(inputs), cell_(cell), index_(index), f_(std::as_const(cell.fg)[index]),
        digits_(f_.inputs.size()), used_(inputs.size(), false) {
    // For each spec the inputs of its type, in increasing index.
    for (const message& spec : f_.inputs) {
      std::vector<size_t> fit;
      for (size_t d = 0; d < inputs.size(); ++d) {
        if (inputs[d]->msg.msg_type == spec.msg_type) fit.push_back(d);
      }
      fitting_.push_back(std::move(fit));
    }
  }

  bool run(const std::function<bool()>& accept) {
    accept_ = &accept;
    return level(f_.inputs.size());
  }

 private:
  // Chooses the digit of spec j - 1 (digits above it are fixed).
  bool level(size_t j) {
    if (j == 0) {
      fg_function& f = cell_.fg.own(index_);
      for (size_t s = 0; s < digits_.size(); ++s) assign(f.inputs[s], inputs_[digits_[s]]->msg);
      return (*accept_)();
    }
    size_t spec = j - 1;
    for (size_t d : fitting_[spec]) {
      if (used_[d]) continue;
      used_[d] = true;
      digits_[spec] = d;
      bool done = level(spec);
      used_[d] = false;
      if (done) return true;
    }
    return false;
  }

  const std::vector<const msg_node*>& inputs_;
  ic_record& cell_;
  size_t index_;                             // the function's place in the chain
  const fg_function& f_;                     // as it was when the search began
  std::vector<size_t> digits_;               // input chosen for each spec
  std::vector<bool> used_;                   // inputs in the current prefix
  std::vector<std::vector<size_t>> fitting_; // inputs of each spec's type
  const std::function<bool()>* accept_ = nullptr;
};

// A local output message of `cell` built from spec `m` for receiver `r`.
message local_message(engine_state& st, ic_record& cell, fg_function& f, const message& m,
                      const std::string& type_text, std::int32_t r) {
  message out;
  out.msg_type = m.msg_type;
  out.fuzzy = m.fuzzy;
  out.params = m.params;
  out.sender = cell.id;
  out.server_id = st.site.server_id;
  out.orv_id = st.site.orv_id;
  out.flag = 's';
  out.receivers = {r};
  out.mflag = IC_ID;
  out.itype = st.hooks.fill_itype(st, out, cell.id, type_text);
  out.content = m.params.empty() ? st.hooks.fill_content(st, out)
                                 : build_content(st, m.params, m.msg_type, f, cell);
  return out;
}

output_group single(std::int32_t receiver, message m) {
  output_group g;
  g.msgs.push_back(msg_node{receiver, std::move(m)});
  return g;
}

// A cross-site message of `cell` built from spec `m` for ic id `receiver`.
ext_message cross_site_message(engine_state& st, ic_record& cell, fg_function& f,
                               const message& m, const std::string& type_text,
                               std::int32_t receiver) {
  ext_message e;
  e.kind = KIND_TYPE_NUMBER;
  e.pid = 0;
  e.flag = receiver == OUT_NEW_CELL ? IC_TYPE : IC_ID;
  e.reserved = 0;
  e.msg_type = m.msg_type;
  e.msg_type_name = "";
  e.ic_type = st.hooks.fill_itype(st, m, cell.id, type_text);
  e.ic_sym_name = "";
  e.sender = cell.sys_name;
  e.content_flag = CONTENT_TEXT;
  e.content = m.params.empty() ? st.hooks.fill_content(st, m)
                               : build_content(st, m.params, m.msg_type, f, cell);
  return e;
}

void send_cross_site(engine_state& st, ic_record& cell, fg_function& f, const message& m,
                     const std::string& type_text, const std::string& site,
                     std::int32_t receiver) {
  ext_message e = cross_site_message(st, cell, f, m, type_text, receiver);
  st.hooks.fill_receiver(st, e, site, receiver);
  st.hooks.write_outgoing_message(st, e, site);
}

// The reply firing: one reply to every sender waiting in the buffer.
std::list<output_group> replies(ic_record& cell, fg_function& f) {
  f.next_state = cell.current_state;
  const std::optional<std::string>& content = f.inputs.front().content;
  // A content that does not start with a number asks for no replies.
  std::int32_t n = content ? leading_number(*content) : 0;
  std::list<output_group> groups;
  if (n == 0) return groups;
  for (buffer_slot& slot : cell.buffer) {
    if (slot.source == free_slot || slot.msg_type == reply_msg_type) continue;
    message m;
    m.mflag = IC_ID;
    m.msg_type = reply_msg_type;
    m.sender = cell.id;
    m.receivers = {slot.source};
    m.content = std::to_string(static_cast<long long>(n) - 1);
    groups.push_front(single(slot.source, std::move(m)));
    slot.source = free_slot;
  }
  return groups;
}

}  // namespace

fg_function* select_function(engine_state& st, ic_record& cell) {
  std::vector<const msg_node*> inputs;
  for (const msg_node& n : cell.inputs) {
    if (inputs.size() == max_selection) break;
    inputs.push_back(&n);
  }
  if (inputs.empty()) return nullptr;
  const auto n = static_cast<std::int64_t>(inputs.size());
  for (size_t i = 0; i < cell.fg.size(); ++i) {
    const fg_function& f = std::as_const(cell.fg)[i];
    if (f.current_state != cell.current_state) continue;
    if (n < f.inputs_needed || inputs.size() < f.inputs.size()) continue;
    if (f.inputs.size() > max_selection) continue;
    assignment_search search(inputs, cell, i);
    bool chosen = search.run([&] {
      fg_function& own = cell.fg.own(i);
      return !own.predicate || eval_predicate(st, own, cell);
    });
    if (chosen) return &cell.fg.own(i);
  }
  return nullptr;
}

bool eval_predicate(engine_state& st, fg_function& f, ic_record& cell) {
  cell.bindings.clear();
  for (const message& spec : f.inputs) bind_inputs(spec.params, spec.content, cell);
  int answer = st.hooks.do_predicate(st, f.predicate->number, f.predicate->params, f, cell);
  cell.bindings.clear();
  return answer != 0;
}

void run_actions(engine_state& st, fg_function& f, ic_record& cell) {
  for (const fg_action& a : f.actions) st.hooks.do_actions(st, a.number, a.params, f, cell);
}

id_set remote_receivers(engine_state& st, ic_record& cell, fg_function& f, std::int32_t code,
                        const message& out_spec, const std::string& type_text) {
  id_set set;
  if (code > 0 || code == OUT_NEW_CELL || code == OUT_PASSED_6 || code == OUT_PASSED_7) {
    set.ids = {code};
  } else if (code == OUT_ALL_ACCEPTING || code == OUT_ONE_ACCEPTING) {
    set = st.cells.accepting(out_spec.msg_type, type_text);
  } else if (code == OUT_ALL_FOUND || code == OUT_ONE_FOUND) {
    set = st.hooks.find_ic(st, cell, f, f.inputs, out_spec, type_text);
  } else if (code == OUT_OTHERS_ACCEPTING || code == OUT_SELF) {
    st.out.pg().print("Wrong usage for %d with orv_id != 0 \n", code);
  } else {
    st.out.pg().print("Unknown %d with orv_id != 0 \n", code);
  }
  return set;
}

std::list<output_group> make_outputs(engine_state& st, ic_record& cell, fg_function& f) {
  if (!f.inputs.empty() && f.inputs.front().msg_type == reply_msg_type) return replies(cell, f);

  std::list<output_group> groups;
  if (f.output_ics.empty() || f.outputs.empty()) return groups;

  // The integer part of an output fuzzy value selects a statistic, which
  // replaces it in the transition itself.
  for (message& m : f.outputs) {
    switch (static_cast<int>(m.fuzzy)) {
      case 0: m.fuzzy = st.fuzzy.min; break;
      case 1: m.fuzzy = st.fuzzy.max; break;
      case 2: m.fuzzy = st.fuzzy.avg; break;
      default: st.out.pg().write("\n Error fuzzy type\n");
    }
  }

  size_t positions = std::min({f.output_ics.size(), f.outputs.size(), f.output_ic_types.size(),
                               f.output_ic_names.size()});
  for (size_t i = 0; i < positions; ++i) {
    const std::int32_t x = f.output_ics[i];
    const message& m = f.outputs[i];
    const std::string& t = f.output_ic_types[i];
    const std::string& name = f.output_ic_names[i];

    if (name == "0" && (x > 0 || x == OUT_NEW_CELL || x == OUT_ALL_ACCEPTING ||
                        x == OUT_ONE_ACCEPTING || x == OUT_ALL_FOUND || x == OUT_ONE_FOUND ||
                        x == OUT_OTHERS_ACCEPTING || x == OUT_SELF)) {
      if (x > 0) {
        groups.push_front(single(x, local_message(st, cell, f, m, t, x)));
      } else if (x == OUT_NEW_CELL) {
        message out = local_message(st, cell, f, m, t, OUT_NEW_CELL);
        out.mflag = IC_TYPE;
        groups.push_front(single(OUT_NEW_CELL, std::move(out)));
      } else if (x == OUT_SELF) {
        groups.push_front(single(OUT_SELF, local_message(st, cell, f, m, t, cell.id)));
      } else {
        bool one_group = x == OUT_ONE_ACCEPTING || x == OUT_ONE_FOUND;
        id_set ids = (x == OUT_ALL_FOUND || x == OUT_ONE_FOUND)
                         ? st.hooks.find_ic(st, cell, f, f.inputs, m, t)
                         : st.cells.accepting(m.msg_type, t);
        output_group together;
        for (std::int32_t id : ids.ids) {
          if (x == OUT_OTHERS_ACCEPTING && id == cell.id) continue;
          message out = local_message(st, cell, f, m, t, id);
          if (one_group) {
            together.msgs.insert(together.msgs.begin(), msg_node{id, std::move(out)});
          } else {
            groups.push_front(single(id, std::move(out)));
          }
        }
        if (one_group && !together.msgs.empty()) groups.push_front(std::move(together));
      }
    } else if (name == "-1" || name == "-2") {
      // nothing is sent
    } else if (name == "-3") {
      id_set ids = remote_receivers(st, cell, f, x, m, t);
      name_set sites = st.hooks.find_orv(st, cell, f, f.inputs, m, t);
      for (const std::string& site : sites.names) {
        for (std::int32_t id : ids.ids) send_cross_site(st, cell, f, m, t, site, id);
      }
    } else if (!name.empty() && (name[0] == 'X' || name[0] == 'Y' || name[0] == 'Z')) {
      if (!st.rules.sends_cross_site) {
        // No other manager to send to: the message is built, so the hooks
        // see it, and dropped.
        cross_site_message(st, cell, f, m, t, x);
        continue;
      }
      parameter var{1, PAR_VARIABLE, name, std::nullopt};
      std::string site = resolve(st, var, cell, no_context);
      send_cross_site(st, cell, f, m, t, site, x);
    } else {
      // The output line's site column holds nothing a rule knows.
      print_twice(st, "Unknown specification for orv: %s\n", name);
    }
  }
  return groups;
}

}  // namespace engine
