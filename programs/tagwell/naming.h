// The naming service as the console test driver exercises it: its own
// six-line `name_db` records and prefix matching, on the site's counters.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace tagwell {

inline constexpr const char* name_db_file = "name_db";

/// Longest text a record field holds (the fields are 50 bytes).
constexpr size_t max_field_length = 49;

/// One name record. The four texts of a record read from `name_db` keep
/// their line ends.
struct name_record {
  std::string symbolic_name;  // the name being registered or looked up
  std::string server_id;      // system name: server
  std::string orv_id;         // system name: site
  std::string ic_type;        // system name: IC type
  std::int32_t ic_id = -1;    // system name: ic id, the cell's ic id
  char flag = 's';            // 's' own cell, 'c' copy
};

/// Results of `register_name`.
enum register_result : int {
  registered = 0,
  name_taken = 1,      // the name (or a longer stored name it begins) exists
  db_unwritable = 2,   // `name_db` cannot be opened for appending
  field_too_long = 3,  // a text does not fit its 50-byte field
};

/// Registers `rec` in `name_db`: takes the next ic id into `rec.ic_id` and
/// appends the record. Messages go to `out`.
register_result register_name(name_record& rec, std::ostream& out);

/// The six lines of `rec` as `name_db` stores them.
std::string record_text(const name_record& rec);

/// True when a stored symbolic name begins with `name` (an empty name finds
/// the first record).
bool name_exists(const std::string& name, std::ostream& out);

/// Finds the first record whose symbolic name begins with
/// `rec.symbolic_name` and copies it into `rec`.
bool look_up(name_record& rec, std::ostream& out);

/// A symbolic name that is not registered yet: `base` if free, else `base`,
/// "_" and the next name number; without a base "IC_" and the next number.
/// Writes "unique name = %s\n". Empty when the result would not fit 49
/// characters.
std::string unique_name(const std::string& base, std::ostream& out);

}  // namespace tagwell
