// Trace dumps: messages, cells, message buffers, transitions and parameter
// lists in readable form, written to the page and to the trace file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/records.h"

namespace engine {

/// The name of message type `number` for a dump: its name, or the number
/// itself when it has none (the reply type -1), so a dump never ends a run.
std::string dump_type_name(const engine_state& st, std::int32_t number);

/// A message, its receivers and its content.
void dump_message(engine_state& st, const message& m);

/// A cell with its system name and its input and output lists.
void dump_cell(engine_state& st, const ic_record& cell);

/// "Dump IX:" and every cell of the active list, front first.
void dump_all_cells(engine_state& st);

/// The taken slots of a cell's message buffer.
void dump_buffer(engine_state& st, const ic_record& cell);

/// A chain of transitions, numbered from 1.
void dump_fg_functions(engine_state& st, const std::vector<fg_function>& chain);

/// A parameter list.
void dump_parameters(engine_state& st, const std::vector<parameter>& params);

}  // namespace engine
