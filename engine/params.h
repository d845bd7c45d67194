// Parameter resolution: the values of constants, variables, function calls
// and database accesses of an fg functions file, the contents built from
// them, and the bindings made from consumed messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/records.h"

namespace engine {

/// Context number of a value read by an action, a predicate or a target.
constexpr std::int32_t no_context = -1;

/// The value of `p` in `cell` while a content of message type `context` is
/// built: a constant's content; a variable's or database access's latest
/// binding, else the application's `userdef_v` or `userdef_db`; a function
/// call's `userdef_f`. Any other flag writes
/// "resolve(): Unexpected parameter flag\n" and gives the empty text.
std::string resolve(engine_state& st, const parameter& p, const ic_record& cell,
                    std::int32_t context);

/// The arguments of function call `name` ("G0(X1,I3)"): the text between
/// the brackets split at the commas outside inner brackets, read as a
/// parameter list. Empty for "G0()".
std::vector<parameter> call_arguments(std::string_view name);

/// Every parameter of `params` resolved in order, joined by "|".
std::string build_content(engine_state& st, const std::vector<parameter>& params,
                          std::int32_t context, const fg_function& f, const ic_record& cell);

/// The `n`-th (1-based) parameter of `params` resolved with context -1;
/// the empty text for a position beyond the list.
std::string par_text(engine_state& st, int n, const std::vector<parameter>& params,
                     const ic_record& cell);

/// `par_text` read as a decimal integer (0 when it does not start with one).
std::int32_t par_int(engine_state& st, int n, const std::vector<parameter>& params,
                     const ic_record& cell);

/// `par_text` read as a decimal fraction (0 when it does not start with one).
double par_float(engine_state& st, int n, const std::vector<parameter>& params,
                 const ic_record& cell);

/// Binds the values of `content` (separated by "|") to `params`, position
/// by position: each variable or database access that gets a value is bound
/// at the front of the cell's bindings. No content binds nothing.
void bind_inputs(const std::vector<parameter>& params, const std::optional<std::string>& content,
                 ic_record& cell);

/// The value of the first binding named `name`, or none.
const std::string* find_binding(const ic_record& cell, std::string_view name);

/// The leading decimal integer of `text` as atoi reads it; 0 when none.
std::int32_t leading_number(std::string_view text);

}  // namespace engine
