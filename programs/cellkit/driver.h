// The run of `cellkit`, the template manager: one request, one page. The
// engine is the site manager's, with the rules of a program that has no
// site: no names, no configuration, no other managers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "engine/ext_message.h"
#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "site/form.h"

namespace cellkit {

/// Name of the lock file that serialises runs (in `html`).
inline constexpr const char* lock_file = "run.lock";

/// Internal types of the two system messages.
inline constexpr std::int32_t sys_restore_type = -9999;
inline constexpr std::int32_t sys_backup_type = -9998;

/// How `cellkit` reads its forms: no symbolic name, "NULL" as the IC type
/// of a system message, and its own text for an IC type that is too long.
site::form_rules form();

/// Gives a fresh engine the store layout and the rules of `cellkit`.
void configure(engine::engine_state& st);

/// The number of the message type of `m`: the system names first, then
/// the program's table (a name in neither ends the run).
std::int32_t message_type_of(engine::engine_state& st, const engine::ext_message& m);

/// Carries out one external message: a system message by its type, any
/// other through the IC manager.
void handle_request(engine::engine_state& st, const engine::ext_message& m);

/// Carries out one request. Ends by returning (status 0) or by throwing
/// `formdecode::run_exit`; the caller flushes the page and the trace.
void run(const formdecode::request& rq, formdecode::output& out);

}  // namespace cellkit
