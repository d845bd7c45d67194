// A request to the site manager: one form, carried out on the site's files
// in the site's directory, told on the page and, in values, in an answer.
#pragma once

#include <string>

#include "engine/engine.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "site/answer.h"

namespace site {

/// Name of the lock file that serialises runs on one site (in its directory).
inline constexpr const char* lock_file = "run.lock";

/// Where a run works and where what its scripts say goes: what one run
/// needs of its surroundings, so that one process may run requests on
/// several sites, one after the other.
struct run_context {
  /// The site's directory, holding every file of the site.
  std::string root = "html";
  /// Where the transfer scripts' output and errors go; none: standard error.
  std::string* script_reports = nullptr;
};

/// Carries out one request: page header, form, the site's directory
/// (`ctx.root`, never entered: the working directory stays), the lock,
/// trace, settings, the message, and then either the IC
/// manager over the stored cells or one of the system messages the manager
/// handles itself. Ends by returning (status 0) or by throwing
/// `formdecode::run_exit`; the caller flushes the page and the trace and
/// calls `finish_answer`. `a` gets what the run does in values. `reading`
/// says how the run reads the cell store; every way writes the same page
/// and files.
void run_request(const formdecode::request& rq, formdecode::output& out, answer& a,
                 const run_context& ctx,
                 engine::store_reading reading = engine::store_reading::lazy);

/// The same in the directory `html` of the working directory, as the web
/// server starts the manager.
void run_request(const formdecode::request& rq, formdecode::output& out, answer& a,
                 engine::store_reading reading = engine::store_reading::lazy);

}  // namespace site
