// The run of `orv`, the site manager: one request, one page.
#pragma once

#include "engine/engine.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"

namespace orv {

/// Name of the lock file that serialises runs on one site (in `html`).
inline constexpr const char* lock_file = "run.lock";

/// Carries out one request. Ends by returning (status 0) or by throwing
/// `formdecode::run_exit`; the caller flushes the page and the trace.
/// `reading` says how the run reads the cell store; every way writes the
/// same page and files.
void run(const formdecode::request& rq, formdecode::output& out,
         engine::store_reading reading = engine::store_reading::lazy);

}  // namespace orv
