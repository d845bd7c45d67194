// The text of one cell block of the cell store, read and written: what
// the store looks like cell by cell, with no file system and no run.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/fg_reader.h"
#include "engine/hooks.h"
#include "engine/records.h"
#include "engine/store_text.h"

namespace engine {

/// How the cell store lays out the cells, and where new cells get their ids.
enum class store_layout {
  site,     // names and system names, an application block per cell and
            // numbered backup copies; ids and names come from the hooks
  counter,  // a next-cell-id line first, short input entries, no names, no
            // application block, no backup copy; ids come from that counter
};

/// The first line of a store in the counter layout.
inline constexpr std::string_view next_id_label = "next available ic: ";

/// The next cell id of the line that begins with `next_id_label`.
std::int32_t read_next_id(store_reader& r);

/// Why a cell block is read.
enum class cell_reading {
  at_load,             // by the load: the application makes the cell's
                       // memory and reports the cell
  reached_with_mm,     // a stored cell the run reaches, read quietly; the
  reached_without_mm,  // load gave it application memory, or none
};

/// What reading and writing a cell needs: the layout, the application (it
/// reads and writes the block of its memory) and the transition functions
/// of each IC type (a cell read is given those of its type).
struct cell_codec {
  app_hooks& hooks;
  fg_library& functions;
  store_layout layout = store_layout::site;  // set by the program before the first load

  /// The text of one cell block, application block included.
  void write(store_writer& w, const ic_record& cell) const;

  /// Reads one cell block (the reader stands at its first line); the cell
  /// is born at `clock`. A block that does not read as the format says
  /// throws `store_error`.
  ic_record read(store_reader& r, std::int32_t clock,
                 cell_reading why = cell_reading::at_load) const;

  /// Reads a block the program saved itself, as far as the load keeps it
  /// of a cell the run has not reached: the cell gets its id, type,
  /// current state, life time and application memory (no names, no
  /// functions, empty lists), and the application reports it
  /// (`mm_reading::load_head`) as with `read`. `*input_count` gets the
  /// size of the input list. The reader ends past the block.
  ic_record read_trusted(store_reader& r, std::int32_t clock, std::int32_t* input_count) const;
};

}  // namespace engine
