// IC manager: delivers messages to cells, creates cells, and fires one
// transition per queued message.
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "engine/ext_message.h"
#include "engine/records.h"

namespace engine {

/// Turns `ext` into messages and runs the IC manager on each until no
/// message is left: one call per request, or per picked-up message.
void handle_ext_message(engine_state& st, const ext_message& ext);

/// Most messages one run of the IC manager takes from its queue. A real
/// exchange takes a handful per cell it reaches; a transition that sends
/// its own input back to its cell never ends, and stops here.
inline constexpr std::int64_t max_messages_per_run = 100000;

/// Runs the manager on `m` until the pending queue is empty: each queued
/// message is delivered (or creates a cell) and lets the first cell of the
/// active list that can fire do so. After `max_messages_per_run` messages
/// the run stops with a line on the page and in the trace, the queue is
/// dropped and the cells stay as they are.
void ic_manager(engine_state& st, message m);

/// Removes from the cell's input list the first entry equal to `spec` and
/// returns its content. Nothing matching writes
/// "remove_input: Warning: can't find msg of type: %d\n".
std::optional<std::string> remove_input(engine_state& st, const message& spec, ic_record& cell);

/// `remove_input` that also binds the removed content to the spec's
/// parameter template.
std::optional<std::string> remove_input_dyn(engine_state& st, const message& spec,
                                            ic_record& cell);

/// A consumed output: the sender and the very group that holds it, with
/// what the warnings name should the group be gone.
struct withdrawal {
  std::int32_t sender = 0;
  const output_group* group = nullptr;
  std::int32_t first_receiver = 0;  // receiver of the group's first message
  std::int32_t msg_type = 0;        // type of the group's first message
};

/// Withdraws the consumed outputs of `list` (front first) from their
/// senders, and the copies that went to the other receivers of each group.
/// Senders and receivers that are not in the active list are passed over.
void remove_output(engine_state& st, std::int32_t consumer, const std::list<withdrawal>& list);

/// Makes the cell that `m` asks for, registered with the application, at
/// the front of the active list. Returns none when the registration is
/// refused (the hook said why) or fails ("Error occurs when writing a new
/// record into the naming Database.\n<p>"). With the counter layout the
/// cell takes the next cell id and has no names; that cannot fail.
ic_record* new_cell_from_message(engine_state& st, const message& m);

}  // namespace engine
