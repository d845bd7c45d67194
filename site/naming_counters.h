// Naming counters: the two site-wide counters of the naming service, each a
// file holding one decimal number. Shared by `orv` and `tagwell`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

/// The next number for a generated name, as the text stored in
/// `name_counter` ("0" when missing or empty), advancing the counter.
std::string next_name_number();

}  // namespace site
