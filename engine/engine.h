// Engine state: everything one run of a manager program keeps about its
// cells and messages, in one object per run.
//
// The program supplies the message-type table and the application hooks,
// so every manager program runs the same engine with its own application.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ext_message.h"
#include "engine/fg_reader.h"
#include "engine/hooks.h"
#include "engine/population.h"
#include "engine/records.h"
#include "formdecode/page.h"
#include "platform/site_dir.h"

namespace engine {

/// One entry of a program's message-type table.
struct message_type_name {
  std::string_view name;  // upper-case keyword, compared exactly
  std::int32_t number;
};

/// A program's message-type table, in the order names are compared.
using message_table = std::span<const message_type_name>;

/// What delivery by id does with a receiver that is in neither cell list.
enum class missing_receiver {
  create_cell,     // the message becomes a request to create a cell
  report_by_id,    // IC_ID: the two "NOT found" lines end the IC manager run
                   // and drop the queued messages; IC_ID_TYPE: the message
                   // goes on to the other receivers and then creates a cell
};

/// Where the manager programs that share this engine differ. The defaults
/// are those of the site manager; a program without a site changes them
/// before its first request.
struct engine_rules {
  bool fill_zero_receiver = true;  // a first receiver id of 0 stands for the
                                   // cells accepting the message's type
  bool warn_missing_cell = true;   // a lookup by id that fails is reported
  missing_receiver on_missing = missing_receiver::create_cell;
  bool sends_cross_site = true;    // outputs for another manager are sent;
                                   // otherwise built (hooks called) and dropped
};

/// Minimum, maximum and average fuzzy value of a cell's inputs, which the
/// output fuzzy codes 0, 1 and 2 select. Nothing computes them: they stay
/// 0.0, so every coded output fuzzy value becomes 0.0.
struct fuzzy_stats {
  float min = 0.0f;
  float max = 0.0f;
  float avg = 0.0f;
};

/// The run state of the engine.
struct engine_state {
  engine_state(formdecode::output& o, site_identity s, message_table t, app_hooks& h)
      : out(o), site(std::move(s)), msg_types(t), hooks(h) {}
  engine_state(const engine_state&) = delete;
  engine_state& operator=(const engine_state&) = delete;

  formdecode::output& out;  // the page and the trace of the run
  site_identity site;       // this site's server id and orv id
  message_table msg_types;  // names and numbers of the message types
  app_hooks& hooks;         // the application
  engine_rules rules;       // set by the program before the first request

  /// The site's directory, where the store and the fg functions files are.
  platform::site_dir dir;
  /// Transition functions already read this run, by IC type, shared by
  /// the cells of the type.
  fg_library functions{out, &dir};
  /// How cells are read and written; its layout is set by the program
  /// before the first load.
  cell_codec codec{hooks, functions};

  store_reading reading = store_reading::lazy;  // how `load_all_cells` reads the store
  population cells{codec};        // the cells of the run
  std::deque<msg_link> pending;   // messages waiting for the IC manager
  std::int32_t clock = 0;         // messages taken from the queue this run
  fuzzy_stats fuzzy;              // selected by output fuzzy codes
};

}  // namespace engine
