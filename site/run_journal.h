// Run journal: what a run changes besides `file.ic` is made to agree with
// the store after any kill.
//
// A run that changes the store may also append name records (`name_db`,
// `vantle_db`), write outgoing files and take incoming ones. Outgoing files
// wait in a staging directory and incoming files stay in `inbox` until the
// store is saved; name records are appended at once, after their files'
// sizes are noted in the journal. Just before the store is saved, the
// journal notes the identity of the old `file.ic` and the incoming files
// taken: the rename of the new store is the moment the run takes effect.
// Then the staged files are moved into `outbox`, the taken ones removed and
// the journal removed. The next run (under the run lock) finds a journal
// left by a killed run and completes it when `file.ic` was replaced by a
// file written after the journal (publishes, removes), or undoes it
// otherwise (cuts the naming files back, drops the staged files; the
// incoming files are still in `inbox` and are picked up again). Each
// incoming message thus takes effect exactly once.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/engine.h"
#include "exchange/exchange.h"
#include "formdecode/page.h"

namespace site {

inline constexpr const char* journal_file = "run.journal";

class run_journal {
 public:
  /// Under the run lock, before the run reads anything: removes the
  /// temporary files of killed writes and completes or undoes the run that
  /// a journal tells of. A line in the trace says which.
  static void recover(formdecode::output& out);

  /// Called before each append to `name_db` or `vantle_db`: the first call
  /// of a run notes their sizes in the journal.
  void before_naming_change();

  /// Saves the cells of `st` and makes the run's other changes take effect
  /// with it: staged outgoing files are published, taken incoming files
  /// removed.
  void save(engine::engine_state& st, exchange::exchange_state& ex);

  /// Undoes this run's other changes in the running process: the naming
  /// files are cut back, the staged files dropped, the taken incoming
  /// files left in `inbox`.
  void roll_back(exchange::exchange_state& ex);

 private:
  bool noted_ = false;                       // the sizes are in the journal
  std::optional<std::int64_t> name_db_size_;   // before this run; none: no file
  std::optional<std::int64_t> vantle_db_size_;
};

}  // namespace site
