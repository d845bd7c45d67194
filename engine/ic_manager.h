// IC manager: delivers messages to cells, creates cells, and fires one
// transition per queued message.
#pragma once

#include "engine/engine.h"
#include "engine/ext_message.h"

namespace engine {

/// Turns `ext` into messages and runs the IC manager on each until no
/// message is left: one call per request, or per picked-up message.
void handle_ext_message(engine_state& st, const ext_message& ext);

}  // namespace engine
