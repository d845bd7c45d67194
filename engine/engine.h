// Engine state: everything one run of a manager program keeps about its
// cells and messages, in one object per run.
//
// The records (cells, messages, lists), the pending queue and the message
// clock join this object as the engine is built up; the program supplies
// the message-type table and the application hooks.
#pragma once

#include "engine/ext_message.h"
#include "formdecode/page.h"

namespace engine {

/// The run state of the engine.
struct engine_state {
  engine_state(formdecode::output& o, site_identity s) : out(o), site(std::move(s)) {}

  formdecode::output& out;  // the page and the trace of the run
  site_identity site;       // this site's server id and orv id
};

/// Reports on the page and in the trace that `operation` is not part of
/// this build yet, and ends the run with status 1. Used by the operations
/// whose modules are still to come, so that no request pretends to succeed.
[[noreturn]] void not_built(formdecode::output& out, std::string_view operation);

}  // namespace engine
