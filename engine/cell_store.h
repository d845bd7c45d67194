// Cell store: the whole cell population between two runs, in `file.ic`,
// with numbered copies in `BACKUP`.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "platform/platform.h"
#include "platform/site_dir.h"

namespace engine {

/// The store file in the site's directory.
inline constexpr const char* store_file = "file.ic";

/// Beside the store: the fingerprint of the store the latest save wrote.
inline constexpr const char* fingerprint_file = "file.ic.fingerprint";

/// The directory of the backup copies.
inline constexpr const char* backup_dir = "BACKUP";

/// Loads every cell of `file.ic` into the active list, as `st.reading`
/// says. A missing file is
/// noted in the trace and leaves no cells; one that exists but cannot be
/// read is reported with the system's reason and ends the run (status 1). A store that does not read as
/// the format says is reported with its line number and ends the run
/// (status 1) before anything is replaced, so it is never saved over. In
/// the counter layout the next cell id is read from the first line and
/// raised above every stored id. A store that matches the fingerprint
/// beside it (see `save_all_cells`) is the text a save wrote: its cells
/// are read only as far as the application's report of each needs, except
/// the blocks the fingerprint names.
void load_all_cells(engine_state& st);

/// Why the store could not be loaded.
struct store_damage {
  std::string cannot_read;  // the system's reason when the file does not read
  int line = 0;             // else the line where it stops reading as the format says
  std::string what;         // and what was expected there
  /// What the page says of it, without markup.
  std::string text() const;
};

/// `load_all_cells`, but a store that cannot be loaded is told in the value
/// returned instead of on the page, and the run goes on.
std::optional<store_damage> load_cells(engine_state& st);

/// Writes the active list to `file.ic` (written aside and renamed into
/// place, so a run that dies meanwhile leaves the old store whole) and, in
/// the site layout, first files a numbered copy of the new store in
/// `BACKUP` (a file of its own, never a second name of `file.ic`). A copy
/// that cannot be filed, or a store that cannot be written, is reported
/// with the reason and ends the run (status 1); `file.ic` is then as it
/// was. `before_write`, when given, sees the new text (in pieces, in order)
/// before anything is written. Once the store is in place, its fingerprint
/// (`store_fingerprint`) replaces the one in `file.ic.fingerprint`.
void save_all_cells(
    engine_state& st,
    const std::function<void(const std::vector<std::string_view>&)>& before_write = {});

/// The backup functions work in the site's directory `dir`; the names they
/// take and give are the site's (relative to it).
///
/// The lowest free backup name for `store_name` in `BACKUP`
/// ("BACKUP/file.ic.b0", ".b1", ...), found with one listing.
std::string next_backup_name(const std::string& store_name, const platform::site_dir& dir = {});

/// Where the next backup of `store_name` goes: the number from the hint
/// beside `BACKUP` while it holds, else from one listing of the folder.
struct backup_plan {
  long long number = 0;
  bool hinted = false;     // the number came from the hint
  bool none_above = true;  // every number above it is free too
};
backup_plan plan_backup(const std::string& store_name, const platform::site_dir& dir = {});

/// "BACKUP/<store_name>.b<number>".
std::string backup_name(const std::string& store_name, long long number);

/// Files `copy` (the new store, written aside) under the planned backup
/// name, or the next free one, once it is on the disk, and returns that
/// name. A hint that names a taken number is set right from a listing of
/// the folder, so backups never stop for a wrong hint. Nothing, with
/// `*err` saying why, when no copy could be filed.
std::optional<std::string> file_backup_copy(const std::string& store_name, backup_plan plan,
                                            platform::aside_file& copy, std::string* err,
                                            const platform::site_dir& dir = {});

/// True when nothing was added to or removed from `BACKUP` since the latest
/// backup of `store_name` was filed (its hint still holds): then `BACKUP`
/// holds no file of a killed write either, and need not be listed.
bool backups_unchanged(const std::string& store_name, const platform::site_dir& dir = {});

}  // namespace engine
