// Run journal: what a run changes besides `file.ic` is made to agree with
// the store after any kill.
//
// A run that changes the store may also append name records (`name_db`,
// `vantle_db`), write outgoing files and take incoming ones. Outgoing files
// wait in a staging directory and incoming files in `exchange::held_dir`
// (out of `inbox`, so they can certainly be removed) until the store is
// saved; name records are appended at once, after their files' sizes and
// fingerprints are noted in the journal. Just before the store is saved,
// the journal notes the size and fingerprint of the text the save writes:
// the rename of the new store is the moment the run takes effect. Then the
// staged files are moved into `outbox`, the held ones removed and the
// journal removed. The next run (under the run lock) finds a journal left
// by a killed run and completes it when `file.ic` holds exactly the text
// the save wrote (publishes, removes), or undoes it otherwise (cuts the
// naming files back, drops the staged files, puts the held files back into
// `inbox`, where they are picked up again). Each incoming message thus
// takes effect exactly once or not at all. The journal is acted on only as
// far as it can be checked: a cut must fall on a record boundary of bytes
// the killed run began with and remove only records it appended; anything
// else is reported and left alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "exchange/exchange.h"
#include "formdecode/page.h"

#include "platform/site_dir.h"

namespace site {

inline constexpr const char* journal_file = "run.journal";

class run_journal {
 public:
  /// Under the run lock, before the run reads anything: removes the
  /// temporary files of killed writes and completes or undoes the run that
  /// a journal tells of. A line in the trace says which. A journal that
  /// cannot be read (a directory, say) or removed ends the run (status 1)
  /// before anything else changes.
  static void recover(formdecode::output& out, const platform::site_dir& dir = {});

  /// Failures are reported to `out`.
  explicit run_journal(formdecode::output& out, const platform::site_dir& dir = {});

  /// Called before each append to `name_db` or `vantle_db`: the first call
  /// of a run notes their sizes in the journal. A journal that cannot be
  /// written ends the run (status 1) before the append.
  void before_naming_change();

  /// Saves the cells of `st` and makes the run's other changes take effect
  /// with it: staged outgoing files are published, taken incoming files
  /// removed. A journal that cannot be written ends the run (status 1)
  /// before the store is saved.
  void save(engine::engine_state& st, exchange::exchange_state& ex);

  /// Undoes this run's other changes in the running process: the naming
  /// files are cut back, the staged files dropped, the taken incoming
  /// files left in `inbox`.
  void roll_back(exchange::exchange_state& ex);

 private:
  void write(const std::string& text);  // replaces the journal, or ends the run

  formdecode::output& out_;                  // where failures are reported
  platform::site_dir dir_;                   // the site's directory
  bool noted_ = false;                       // the sizes are in the journal
  std::string sizes_;                        // the journal's size lines
  std::optional<std::int64_t> name_db_size_;   // before this run; none: no file
  std::optional<std::int64_t> vantle_db_size_;
};

}  // namespace site
