// Transition firing: which transition of a cell can fire, its predicate,
// its actions, and the messages it sends.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "engine/engine.h"
#include "engine/records.h"

namespace engine {

/// Most inputs of a cell and most input specs of a transition that take
/// part in a selection: the newest inputs are taken; a transition with more
/// specs is never chosen.
constexpr size_t max_selection = 100;

/// The first transition of `cell` that can fire, or none. Each input spec
/// of the returned transition then holds a copy of the input assigned to
/// it (its parameter template kept). Assignments are tried in the order of
/// the numbers whose base-n digits (least significant first) give the
/// input of each spec, so among several inputs of a spec's type the newest
/// is tried first for the first spec; only assignments of distinct inputs
/// whose types all match reach the predicate.
fg_function* select_function(engine_state& st, ic_record& cell);

/// Binds the assigned inputs, asks the application's `do_predicate` and
/// clears the bindings again.
bool eval_predicate(engine_state& st, fg_function& f, ic_record& cell);

/// Calls `do_actions` for each action of `f`, in order.
void run_actions(engine_state& st, fg_function& f, ic_record& cell);

/// The local output groups of a firing of `f` (in the file order of its
/// output lines); cross-site outputs are handed to the application's
/// `write_outgoing_message` during the call. A transition whose first input
/// is a reply request (type -1) answers the senders of the message buffer.
std::list<output_group> make_outputs(engine_state& st, ic_record& cell, fg_function& f);

/// The receiving ic ids of a cross-site output with code `code`.
id_set remote_receivers(engine_state& st, ic_record& cell, fg_function& f, std::int32_t code,
                        const message& out_spec, const std::string& type_text);

}  // namespace engine
