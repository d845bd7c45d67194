// Messages and their names: the message-type table, the names of states
// and senders, and how a message is compared and addressed.
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

// --- messages ------------------------------------------------------------

/// True when `a` and `b` are the same message: type, sender, mflag,
/// content, first receiver and, for IC_TYPE messages, itype. A message of
/// a reloaded output list keeps no content and no itype: an absent content,
/// an absent first receiver and, for IC_TYPE messages, an absent itype
/// compare equal to any, so a cell can still consume in a later run what
/// another cell sent it.
bool same_message(const message& a, const message& b);

/// Takes the next receiver of `m`: its first receiver id (an id of 0 is
/// reported and yields 0), or, with no receivers left, the cell registered
/// under the message's first symbolic name when the message is for this
/// site; 0 when there is none.
std::int32_t next_receiver(engine_state& st, message& m);

}  // namespace engine
