// The run of `orv`, the site manager: one request, one page.
#pragma once

#include "engine/engine.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"

namespace orv {

/// Carries out one request (`site::run_request`) when only its page is
/// wanted. Ends by returning (status 0) or by throwing
/// `formdecode::run_exit`; the caller flushes the page and the trace.
/// `reading` says how the run reads the cell store; every way writes the
/// same page and files.
void run(const formdecode::request& rq, formdecode::output& out,
         engine::store_reading reading = engine::store_reading::lazy);

}  // namespace orv
