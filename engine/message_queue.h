// The queue of messages waiting for the IC manager, and the message clock
// that counts the messages taken from it.
#pragma once

#include "engine/engine.h"

namespace engine {

/// Empties the queue.
void clear_queue(engine_state& st);

/// Puts `m` at the end of the queue.
void append_queue(engine_state& st, const message& m);

bool queue_empty(const engine_state& st);

/// Takes the head message (the queue must not be empty) and moves the
/// message clock on by one.
message take_queue(engine_state& st);

}  // namespace engine
