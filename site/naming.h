// Naming database: one record per cell the site ever created, with its ic
// id, its symbolic name and its system name, in the file `name_db`.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/ext_message.h"
#include "formdecode/page.h"

#include "platform/site_dir.h"

namespace site {

inline constexpr const char* name_db_file = "name_db";

/// The name a record carries when its cell has no symbolic name.
inline constexpr const char* no_symbolic_name = "*** (no symbolic name)";

/// One name record.
struct name_record {
  std::int32_t ic_id = 0;         // the cell's ic id at this site
  std::string symbolic_name;      // or `no_symbolic_name`
  engine::ic_sys_name sys_name;   // the cell's system name
};

/// Results of `register_name`.
enum register_result : int {
  REGISTERED = 0,     // the record has its ic id and is in `name_db`
  NAME_TAKEN = 1,     // another record has the name; no id was used
  DB_UNWRITABLE = 2,  // `name_db` cannot be written; the id stays used
  NAME_REFUSED = 3,   // the name holds a line break; no id was used
};

/// How the text of a `name_db` read.
enum class name_db_read {
  whole,       // every record read
  damaged,     // an ic id line is not a number (it read as 0)
  incomplete,  // the last record lacks lines; the walk ended before it
};

/// The text of the site file `file`, or nothing when it does not exist. A
/// file that exists but cannot be read is reported on the page with the
/// system's reason and ends the run (status 1): it is never taken for an
/// empty one.
std::optional<std::string> read_naming_file(const char* file, formdecode::page& pg,
                                            const platform::site_dir& dir = {});

/// Reads the records (seven lines each) of the text of a `name_db` in file
/// order, calling `visit` for each until it returns true. Unless the text
/// reads whole, `*err` says on which line what is wrong first.
name_db_read read_name_records(std::string_view text,
                               const std::function<bool(const name_record&)>& visit,
                               std::string* err);

/// Gives `rec` the next ic id, above every id of `file.ic` and `name_db`,
/// and appends it to `name_db`. A cell of this site (`sys_name.orv_id`
/// equal to `site_orv_id`) also carries the new id in its system name.
/// Names are kept whole, whatever their length. `highest`, when given,
/// keeps the highest id in use across the calls of one run, so the files
/// are searched for it once.
register_result register_name(name_record& rec, const std::string& site_orv_id,
                              formdecode::page& pg,
                              std::optional<std::int32_t>* highest = nullptr,
                              const platform::site_dir& dir = {});

/// True when a record has exactly the name `name`.
bool name_exists(const std::string& name, formdecode::page& pg, const platform::site_dir& dir = {});

/// Finds the record named `rec.symbolic_name` and copies its name and
/// system name into `rec`.
bool look_up(name_record& rec, formdecode::page& pg, const platform::site_dir& dir = {});

/// A symbolic name no record has yet: `base` itself, or `base`, "_" and the
/// next name number; without a base "IC_" and the next name number. Each
/// rejected candidate uses a name number.
std::string unique_name(const std::optional<std::string>& base, formdecode::page& pg,
                        const platform::site_dir& dir = {});

}  // namespace site
