// Naming counters: the two site-wide counters of the naming service, each a
// file holding one decimal number. Shared by `orv` and `tagwell`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "formdecode/page.h"

#include "platform/site_dir.h"

namespace site {

inline constexpr const char* ic_id_counter_file = "ic_id_counter";
inline constexpr const char* name_counter_file = "name_counter";

/// The value of the text of a counter file as the counters read it: the
/// leading decimal number of its first line (at most 19 characters), 0 when
/// there is none. When that line is not a decimal number alone, `*err` (if
/// given) says so; it is left alone otherwise.
long long counter_value(std::string_view text, std::string* err);

/// The ic id the next new cell gets, advancing `ic_id_counter`. A missing
/// or empty counter means 1, so ids run 1, 2, 3, ... across all runs.
std::int32_t next_ic_id();

/// The same for a site whose cells are stored: the id is always above
/// `highest_stored()`, so no stored id is handed out again. When the
/// counter is missing, empty, damaged (its first line not a whole number of
/// 1 or more) or not above that id, ids go on after it and the page says
/// so. A counter that exists but cannot be read is reported on the page and
/// ends the run (status 1) before anything is written.
std::int32_t next_ic_id(const std::function<std::int32_t()>& highest_stored,
                        formdecode::page& pg, const platform::site_dir& dir = {});

/// The next number for a generated name, as the text stored in
/// `name_counter` ("0" when missing or empty), advancing the counter.
std::string next_name_number();

/// The same, for a run with a page: a counter that exists but cannot be
/// read is reported there and ends the run (status 1).
std::string next_name_number(formdecode::page& pg, const platform::site_dir& dir = {});

}  // namespace site
