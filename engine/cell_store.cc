#include "engine/cell_store.h"

namespace engine {

void load_all_cells(engine_state& st) { not_built(st.out, "load all cells"); }

void save_all_cells(engine_state& st) { not_built(st.out, "save all cells"); }

}  // namespace engine
