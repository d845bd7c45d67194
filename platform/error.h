// How platform calls report failure.
//
// One convention for the whole module: a call that can fail returns false,
// an empty optional, or -1 for an exit status; when the caller passes an
// `err` text, it receives "SUBJECT: REASON", where SUBJECT is the path or
// the system call concerned and REASON the system's text for errno (see
// `system_error`). The few calls whose callers must tell one reason from
// another (a name already taken) return the error number itself, 0 for
// success; their comments say so. `rename_file` gives the REASON alone,
// as its callers name both paths in their own message.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// "SUBJECT: REASON" for the error number `e`.
std::string system_error(std::string_view subject, int e);

/// Sets `*err` (when given) to `system_error(subject, e)`; returns false so
/// that a failing call can end with `return fail(err, path, errno);`.
bool fail(std::string* err, std::string_view subject, int e);

}  // namespace platform
