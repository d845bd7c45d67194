#include "site/naming.h"

#include <functional>
#include <sstream>
#include <unordered_set>
#include <vector>

#include "engine/cell_store.h"
#include "engine/store_text.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "site/naming_counters.h"
#include "text/text.h"

namespace site {
namespace {

// Names are read back without trailing spaces, so they are compared so.
std::string_view stored_form(std::string_view name) { return engine::trim_trailing_spaces(name); }

// Walks the records of `name_db` in file order until `visit` returns true;
// an incomplete last record is reported and ends the walk.
void for_each_record(formdecode::page& pg, const std::function<bool(const name_record&)>& visit,
                     formdecode::page* errors, const platform::site_dir& dir) {
  std::optional<std::string> data = read_naming_file(name_db_file, errors ? *errors : pg, dir);
  if (!data) return;
  if (read_name_records(*data, visit, nullptr) == name_db_read::incomplete) {
    pg.write("Error: the last record is not complete!!\n<p>");
  }
}

std::optional<name_record> find(const std::string& name, formdecode::page& pg,
                                const platform::site_dir& dir) {
  if (name.empty() || !platform::exists(dir.at(name_db_file))) return std::nullopt;
  std::optional<name_record> found;
  for_each_record(
      pg,
      [&](const name_record& rec) {
        if (rec.symbolic_name != stored_form(name)) return false;
        found = rec;
        return true;
      },
      nullptr, dir);
  return found;
}

// The highest ic id of the cells in the store and of the records of
// `name_db` (0 when there are none): lines "id: N" of the store and the
// first line of every record.
std::int32_t highest_stored_id(formdecode::page& pg, const platform::site_dir& dir) {
  std::int32_t highest = 0;
  std::optional<std::string> store = read_naming_file(engine::store_file, pg, dir);
  if (store) {
    for (std::string_view line : text::split_lines(*store)) {
      if (line.substr(0, 4) != "id: ") continue;
      std::optional<std::int32_t> id = engine::parse_int(line.substr(4));
      if (id && *id > highest) highest = *id;
    }
  }
  for_each_record(
      pg,
      [&](const name_record& rec) {
        if (rec.ic_id > highest) highest = rec.ic_id;
        return false;
      },
      nullptr, dir);
  return highest;
}

bool has_line_break(const std::string& s) { return s.find_first_of("\n\r") != std::string::npos; }

}  // namespace

std::optional<std::string> read_naming_file(const char* file, formdecode::page& pg,
                                            const platform::site_dir& dir) {
  std::string err;
  std::optional<std::string> text = platform::read_site_file(dir.at(file), &err);
  dir.as_inside(&err);
  if (!text && !err.empty()) {
    pg.print("Error: can't read %s; nothing is changed.\n<p>", err);
    throw formdecode::run_exit{1};
  }
  return text;
}

name_db_read read_name_records(std::string_view text,
                               const std::function<bool(const name_record&)>& visit,
                               std::string* err) {
  std::vector<std::string_view> lines = text::split_lines(text);
  name_db_read result = name_db_read::whole;
  // An id line that is not a number reads as 0; the first is noted.
  auto id_at = [&](size_t i) {
    std::optional<std::int32_t> v = engine::parse_int(lines[i]);
    if (!v && result == name_db_read::whole) {
      result = name_db_read::damaged;
      if (err) *err = "line " + std::to_string(i + 1) + ": \"" + std::string(lines[i]) +
                      "\" is not an ic id";
    }
    return v.value_or(0);
  };
  for (size_t i = 0; i < lines.size(); i += 7) {
    if (i + 7 > lines.size()) {
      if (err) *err = "line " + std::to_string(i + 1) + ": the last record is not complete (" +
                      std::to_string(lines.size() - i) + " of its 7 lines)";
      return name_db_read::incomplete;
    }
    name_record rec;
    rec.ic_id = id_at(i);
    rec.symbolic_name = std::string(stored_form(lines[i + 1]));
    rec.sys_name.server_id = std::string(lines[i + 2]);
    rec.sys_name.orv_id = std::string(lines[i + 3]);
    rec.sys_name.ic_type = std::string(lines[i + 4]);
    rec.sys_name.ic_id = id_at(i + 5);
    rec.sys_name.flag = lines[i + 6].empty() ? '\0' : lines[i + 6][0];
    if (visit(rec)) return result;
  }
  return result;
}

register_result register_name(name_record& rec, const std::string& site_orv_id,
                              formdecode::page& pg, std::optional<std::int32_t>* highest,
                              const platform::site_dir& dir) {
  const engine::ic_sys_name& sys = rec.sys_name;
  if (has_line_break(rec.symbolic_name) || has_line_break(sys.server_id) ||
      has_line_break(sys.orv_id) || has_line_break(sys.ic_type)) {
    pg.print("<p>The given symbolic name \"%s\" can't be registered: a name must be one line.\n <p>",
             rec.symbolic_name);
    return NAME_REFUSED;
  }
  if (!rec.symbolic_name.empty() && name_exists(rec.symbolic_name, pg, dir)) {
    pg.print("<p>The given symbolic name \"%s\" has already been used!!\n <p>", rec.symbolic_name);
    return NAME_TAKEN;
  }
  rec.ic_id = next_ic_id(
      [&] {
        if (!highest) return highest_stored_id(pg, dir);
        if (!*highest) *highest = highest_stored_id(pg, dir);
        return **highest;
      },
      pg, dir);
  if (highest && *highest && rec.ic_id > **highest) *highest = rec.ic_id;
  if (rec.symbolic_name.empty()) rec.symbolic_name = no_symbolic_name;
  if (rec.sys_name.orv_id == site_orv_id) rec.sys_name.ic_id = rec.ic_id;

  std::string text = std::to_string(rec.ic_id) + "\n" + rec.symbolic_name + "\n" +
                     rec.sys_name.server_id + "\n" + rec.sys_name.orv_id + "\n" +
                     rec.sys_name.ic_type + "\n" + std::to_string(rec.sys_name.ic_id) + "\n" +
                     (rec.sys_name.flag ? std::string(1, rec.sys_name.flag) : std::string()) + "\n";
  if (!platform::append_file(dir.at(name_db_file), text, nullptr)) {
    pg.write("Error occurs when writing a new record into the naming Database.\n<p>");
    return DB_UNWRITABLE;
  }
  return REGISTERED;
}

bool name_exists(const std::string& name, formdecode::page& pg, const platform::site_dir& dir) {
  return find(name, pg, dir).has_value();
}

bool look_up(name_record& rec, formdecode::page& pg, const platform::site_dir& dir) {
  std::optional<name_record> found = find(rec.symbolic_name, pg, dir);
  if (!found) return false;
  rec.symbolic_name = found->symbolic_name;
  rec.sys_name = found->sys_name;
  return true;
}

std::string unique_name(const std::optional<std::string>& base, formdecode::page& pg,
                        const platform::site_dir& dir) {
  // The names are read once; each candidate is then checked as
  // `name_exists` would check it, warning of an incomplete last record
  // every time a candidate is looked for to the end.
  std::unordered_set<std::string> names;
  bool incomplete = false;
  const bool have_db = platform::exists(dir.at(name_db_file));
  if (have_db) {
    std::ostringstream warnings;
    formdecode::page quiet(warnings);
    for_each_record(
        quiet,
        [&](const name_record& rec) {
          names.insert(rec.symbolic_name);
          return false;
        },
        &pg, dir);
    incomplete = !warnings.str().empty();
  }
  auto taken = [&](const std::string& candidate) {
    if (candidate.empty() || !have_db) return false;
    if (names.count(std::string(stored_form(candidate)))) return true;
    if (incomplete) pg.write("Error: the last record is not complete!!\n<p>");
    return false;
  };
  std::string stem = base ? *base : std::string("IC");
  std::string candidate = base ? *base : stem + "_" + next_name_number(pg, dir);
  while (taken(candidate)) candidate = stem + "_" + next_name_number(pg, dir);
  return candidate;
}

}  // namespace site
