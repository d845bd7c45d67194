// The run of `orv`, the site manager: one request, one page.
#pragma once

#include "formdecode/formdecode.h"
#include "formdecode/page.h"

namespace orv {

/// Name of the lock file that serialises runs on one site (in `html`).
inline constexpr const char* lock_file = "run.lock";

/// Carries out one request. Ends by returning (status 0) or by throwing
/// `formdecode::run_exit`; the caller flushes the page and the trace.
void run(const formdecode::request& rq, formdecode::output& out);

}  // namespace orv
