// Application hooks: everything the engine asks of the program that hosts
// it. The engine never interprets a cell's application memory, never names
// a site file, and never decides how ic ids are handed out; it calls these.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/records.h"

namespace engine {

class store_writer;
class store_reader;

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
  /// by the reader (it throws `store_error`).
  virtual void load_mm(store_reader& in, ic_record& cell) = 0;

  /// Hands out the id of a new cell and records it under `symbolic_name`
  /// (empty for none) with the system name `sys`. The hook may set the ic
  /// id of `sys` (a cell of this site carries its own id there).
  virtual cell_registration register_cell(const std::string& symbolic_name, ic_sys_name& sys) = 0;

  /// The ic id of the cell registered under `symbolic_name`, or none.
  virtual std::optional<std::int32_t> find_named_cell(const std::string& symbolic_name) = 0;
};

}  // namespace engine
