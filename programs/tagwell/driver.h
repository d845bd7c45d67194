// The console test driver of the naming service.
#pragma once

#include <ostream>

#include "programs/tagwell/naming.h"

namespace tagwell {

/// The request kind of the delivered program: register a new name.
constexpr char request_kind = 'N';

/// The fixed test record of a registration request.
name_record test_record();

/// Carries out one request of `kind` ('N' registers the test record, 'L'
/// looks up the test name) in the working directory, writing the outcome
/// to `out`.
void run(char kind, std::ostream& out);

}  // namespace tagwell
