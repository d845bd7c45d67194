// What a cell remembers of the cells it deals with: the senders waiting
// for a reply (its message buffer) and, for each message type, the cell
// that took its latest message of that type (its same ics).
#pragma once

#include <cstdint>

#include "engine/records.h"

namespace engine {

/// Records the sender of `m` in the first free slot (slot 0 when all are
/// taken) and returns the slot; a reply request (type -1) records nothing
/// and returns -1.
int record_sender(ic_record& cell, const message& m);

/// Ties `msg_type` to `ic_id`; types outside -1..49 have no slot and are
/// ignored.
void set_same_ic(ic_record& cell, std::int32_t msg_type, std::int32_t ic_id);

}  // namespace engine
