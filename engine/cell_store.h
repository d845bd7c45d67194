// Cell store: the whole cell population between two runs, in `file.ic`,
// with numbered copies in `BACKUP`.
#pragma once

#include "engine/engine.h"

namespace engine {

/// The store file in the working directory.
inline constexpr const char* store_file = "file.ic";

/// Loads every cell of `file.ic` into the active list (emptied first). A
/// missing file is noted in the trace and leaves no cells.
void load_all_cells(engine_state& st);

/// Writes the active list to `file.ic` and files a numbered copy of the new
/// store in `BACKUP`.
void save_all_cells(engine_state& st);

}  // namespace engine
