// Cell and message model: the name tables and the small operations that
// work directly on cells, messages and the engine's lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "engine/records.h"

namespace engine {

/// Writes a refusal to the page twice: the program writes these texts once
/// on standard output and once on the page stream, which are the same.
template <class... A>
void print_twice(engine_state& st, std::string_view fmt, const A&... args) {
  st.out.pg().print(fmt, args...);
  st.out.pg().print(fmt, args...);
}

// --- name tables ---------------------------------------------------------

/// The name of message type `number`; an unknown number ends the run
/// (status 0) with "decode_msg: Unknown message type %d\n".
std::string decode_msg(const engine_state& st, std::int32_t number);

/// The number of message type `name` (exact, case-sensitive); an unknown
/// name ends the run (status 0) with "encode_msg: Unknown message type %s\n".
std::int32_t encode_msg(const engine_state& st, const std::string& name);

/// "S0", "SLEEP", "DEAD" or "STATE_" and the number.
std::string state_name(std::int32_t state);

/// "(EXTERNAL)" for -1, "(UNKNOWN)" for 0, else empty.
std::string sender_name(std::int32_t sender);

// --- message accessors ---------------------------------------------------

inline std::int32_t mflag_of(const message& m) { return m.mflag; }
inline std::int32_t msg_type_of(const message& m) { return m.msg_type; }
inline std::int32_t sender_of(const message& m) { return m.sender; }
/// 1 when a cell sent the message, else -1.
inline int is_internal(const message& m) { return m.sender > 0 ? 1 : -1; }
/// The IC type of the target, "NONE" when the message has none.
inline std::string itype_of(const message& m) { return m.itype.value_or("NONE"); }
inline const std::optional<std::string>& content_of(const message& m) { return m.content; }

// --- cell lookup ---------------------------------------------------------

/// Which list `found_ic` searches: 1 the active list, anything else the
/// sleeping list.
constexpr int active_list_selector = 1;

/// Where a cell was found: the list and its position there.
struct found_cell {
  cell_list* list = nullptr;
  cell_list::iterator at;
  ic_record* cell() const { return list ? &*at : nullptr; }
  explicit operator bool() const { return list != nullptr; }
};

/// The first cell with `ic_id` in the active list (`list` 1) or the
/// sleeping list (any other value). A miss writes
/// "found_ic(): ic_id = %d not found!\n" to the page and the trace, unless
/// the program's rules turn that warning off.
found_cell found_ic(engine_state& st, std::int32_t ic_id, int list);

/// The active cells that have an fg function with an input spec of
/// `msg_type` and, unless `type_name` is "NOT_SPEC", whose IC type is
/// `type_name`; in reverse order of the active list.
id_set cells_accepting(const engine_state& st, std::int32_t msg_type, const std::string& type_name);

/// Takes the next receiver of `m`: its first receiver id (an id of 0 is
/// reported and yields 0), or, with no receivers left, the cell registered
/// under the message's first symbolic name when the message is for this
/// site; 0 when there is none.
std::int32_t next_receiver(engine_state& st, message& m);

// --- message comparison --------------------------------------------------

/// True when `a` and `b` are the same message: type, sender, mflag,
/// content, first receiver and, for IC_TYPE messages, itype. A message of
/// a reloaded output list keeps no content and no itype: an absent content,
/// an absent first receiver and, for IC_TYPE messages, an absent itype
/// compare equal to any, so a cell can still consume in a later run what
/// another cell sent it.
bool same_message(const message& a, const message& b);

/// True when `a` and `b` have the same message type.
inline bool same_msg_type(const message& a, const message& b) { return a.msg_type == b.msg_type; }

// --- pending queue -------------------------------------------------------

void clear_queue(engine_state& st);
void append_queue(engine_state& st, const message& m);
bool queue_empty(const engine_state& st);
/// The head message (the queue must not be empty).
message take_queue(engine_state& st);

// --- cell lists ----------------------------------------------------------

/// Puts `m` at the front of the cell's input list.
void add_input(ic_record& cell, const message& m);

/// Puts the groups of `groups` (in their order) in front of the cell's
/// output list; the output count goes up by one.
void add_output_group(ic_record& cell, std::list<output_group> groups);

/// Birth time := message clock, max. time := 100.
void refresh(const engine_state& st, ic_record& cell);

/// Moves every active cell whose max. time is 0 to the front of the
/// sleeping list, in state SLEEP.
void sleep_expired(engine_state& st);

/// Moves a sleeping cell to the front of the active list, in state 0.
ic_record& wake(engine_state& st, cell_list::iterator cell);

/// Gives the cell the function's next state; SLEEP and DEAD move it to the
/// front of the sleeping list, DEAD also drops its inputs and outputs.
void set_next_state(engine_state& st, const fg_function& f, cell_list::iterator cell);

// --- message buffer and same ic ------------------------------------------

/// Records the sender of `m` in the first free slot (slot 0 when all are
/// taken) and returns the slot; a reply request (type -1) records nothing
/// and returns -1.
int record_sender(ic_record& cell, const message& m);

/// The same-ic slot of `msg_type`, or none for types outside -1..49.
std::int32_t* same_ic_slot(ic_record& cell, std::int32_t msg_type);

/// Ties `msg_type` to `ic_id`; types without a slot are ignored.
void set_same_ic(ic_record& cell, std::int32_t msg_type, std::int32_t ic_id);

// --- constructors --------------------------------------------------------

/// A message with the defaults of the model (no names, no receivers).
message new_message();

/// Makes the cell that `m` asks for, registered with the application, at
/// the front of the active list. Returns none when the registration is
/// refused (the hook said why) or fails ("Error occurs when writing a new
/// record into the naming Database.\n<p>"). With the counter layout the
/// cell takes the next cell id and has no names; that cannot fail.
ic_record* new_cell_from_message(engine_state& st, const message& m);

}  // namespace engine
