// Application hooks: everything the engine asks of the program that hosts
// it. The engine never interprets a cell's application memory, never names
// a site file, and never decides how ic ids are handed out; it calls these.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ext_message.h"
#include "engine/records.h"

namespace engine {

class store_writer;
class store_reader;
struct engine_state;

/// Why the application block of a cell is read.
enum class mm_reading {
  load,       // at load, to be kept and reported
  load_head,  // at load, only to be reported (see `app_hooks::load_mm`)
  reach,      // again, for a cell the run reaches after the load
};

/// The outcome of registering a new cell.
struct cell_registration {
  enum status_kind {
    registered,  // `ic_id` is the new cell's id
    refused,     // the name is taken or unusable; the hook has said why
    failed,      // the register cannot be written
  };
  status_kind status = failed;
  std::int32_t ic_id = 0;
};

/// The hooks of one application. The engine takes them by reference.
struct app_hooks {
  virtual ~app_hooks() = default;

  /// The application memory of a new cell of `ic_type`, or none.
  virtual std::unique_ptr<app_memory> new_internal_mm(const std::string& ic_type) = 0;

  /// Writes the application block of `cell` at the end of its store block.
  virtual void save_mm(store_writer& out, const ic_record& cell) = 0;

  /// Reads the application block written by `save_mm` into `cell`, whose
  /// memory `new_internal_mm` has just made. A damaged block is reported
  /// by the reader (it throws `store_error`). The load reads every cell
  /// once (`mm_reading::load`): what the application reports about its
  /// cells, it reports then. A cell the run reaches later is read again
  /// (`mm_reading::reach`), and must then be read without a report. At
  /// load the cell holds its header (id, type, states, names); its lists
  /// may not have been read (a store the program saved itself is read no
  /// further than this block), so a report must not depend on them.
  /// A block the program saved itself, and that a load and a save give back
  /// as it stands, is read with `mm_reading::load_head`: the report is made
  /// as at `load`, and then the cell and its memory are dropped (the run
  /// reads the block again if it reaches the cell), so the hook need read
  /// no more than its report uses and may pass over the rest of its block.
  /// The block is well formed; passing over it must still leave the reader
  /// at its end.
  virtual void load_mm(store_reader& in, ic_record& cell, mm_reading why) = 0;

  /// Called once the whole store is loaded (after the last `load_mm`).
  virtual void cells_loaded() {}

  /// Hands out the id of a new cell and records it under `symbolic_name`
  /// (empty for none) with the system name `sys`. The hook may set the ic
  /// id of `sys` (a cell of this site carries its own id there).
  virtual cell_registration register_cell(const std::string& symbolic_name, ic_sys_name& sys) = 0;

  /// The ic id of the cell registered under `symbolic_name`, or none.
  virtual std::optional<std::int32_t> find_named_cell(const std::string& symbolic_name) = 0;

  // --- transition firing ---------------------------------------------------

  /// Evaluates predicate `number` of `f` with its parameters `params`; the
  /// inputs assigned to `f` are bound in `cell`. Nonzero lets `f` fire.
  virtual int do_predicate(engine_state& st, std::int32_t number,
                           const std::vector<parameter>& params, fg_function& f,
                           ic_record& cell) = 0;

  /// Runs action `number` of `f` with its parameters `params`. Called once
  /// per action, in list order; the result is not used.
  virtual int do_actions(engine_state& st, std::int32_t number,
                         const std::vector<parameter>& params, fg_function& f,
                         ic_record& cell) = 0;

  /// The IC type of an output message `m` that cell `sender_id` sends,
  /// given the type text `ic_type` of its output line ("NOT_SPEC" when the
  /// line names none).
  virtual std::string fill_itype(engine_state& st, message m, std::int32_t sender_id,
                                 const std::string& ic_type) = 0;

  /// The content of output message `m` whose spec has no content template.
  /// Empty unless the application decides otherwise.
  virtual std::string fill_content(engine_state& /*st*/, const message& /*m*/) { return {}; }

  /// The receiving cells of output spec `out_spec` of `f` (output codes -3
  /// and -4). `inputs` are the input specs of `f`, each holding the input
  /// assigned to it. Empty when no case applies.
  virtual id_set find_ic(engine_state& st, ic_record& cell, const fg_function& f,
                         const std::vector<msg_link>& inputs, const message& out_spec,
                         const std::string& ic_type) = 0;

  /// The receiving sites (orv ids) of a cross-site output; the same
  /// arguments as `find_ic`. Empty when no case applies.
  virtual name_set find_orv(engine_state& st, ic_record& cell, const fg_function& f,
                            const std::vector<msg_link>& inputs, const message& out_spec,
                            const std::string& ic_type) = 0;

  /// Fills the receiver of cross-site message `m` (its sender and ic_type
  /// are set) for the site `orv_id` and the receiving ic id `ic_id`.
  virtual void fill_receiver(engine_state& st, ext_message& m, const std::string& orv_id,
                             std::int32_t ic_id) = 0;

  /// Hands a cross-site message over for delivery to the site `orv_id`.
  virtual void write_outgoing_message(engine_state& st, const ext_message& m,
                                      const std::string& orv_id) = 0;

  // --- parameter values ------------------------------------------------------

  /// The value of variable `name` that no binding of `cell` holds, while a
  /// content of message type `context` is built (-1: an action, predicate
  /// or target argument).
  virtual std::string userdef_v(engine_state& st, const std::string& name,
                                const ic_record& cell, std::int32_t context) = 0;

  /// The value of function `name` (two characters) applied to `args`. The
  /// standard set: "G0" adds 1 to its first argument (read as an integer;
  /// a call without arguments reads 0), "H0" takes 1 from it; any other
  /// name writes "userdef_f(): function %s not defined\n" and gives
  /// "FUNC_NOT_DEFINED!!".
  virtual std::string userdef_f(engine_state& st, const std::string& name,
                                const std::vector<parameter>& args, const ic_record& cell,
                                std::int32_t context);

  /// The value of database access `name` that no binding holds. By default
  /// none is defined: "userdef_db(): db_access %s not defined\n" and
  /// "DB_ACCESS_NOT_DEFINED!!".
  virtual std::string userdef_db(engine_state& st, const std::string& name,
                                 const ic_record& cell, std::int32_t context);
};

}  // namespace engine
