// `orvsite check`, the part beyond the readers: whether the user the web
// server runs the programs as may read and write what they need, and
// whether the site's files agree with each other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "programs/orvsite/check_command.h"

namespace orvsite {

/// Whether `user` may read (4), write (2) and/or search or run (1) the
/// entry `a`, as the kernel decides from its owner, group and mode (access
/// control lists aside). Root may read and write anything and run what has
/// any execute bit.
bool may(const platform::user_account& user, const platform::entry_access& a, unsigned want);

/// Adds to `problems` every entry of the site `dir` that `user` cannot use
/// as the programs need, and every private key that others may read. Each
/// problem names the command that mends it.
void audit_access(const std::string& dir, const platform::user_account& user,
                  std::vector<site_problem>* problems);

/// What the stored files must agree on, read by `check_site`.
struct stored_ids {
  std::vector<std::int32_t> cells;                 // ids of the stored cells
  std::vector<std::string> vantle_names;           // symbolic names of the stored vantles
  std::vector<std::int32_t> named;                 // ids in name_db
  std::vector<std::string> registered_vantles;     // names in vantle_db
  bool store_read = false, name_db_read = false, vantle_db_read = false;
};

/// Adds to `problems` what does not agree between the files of the site
/// `dir` (the working directory is its html directory): the id counter
/// against the stored ids, name_db and vantle_db against the stored cells,
/// files in inbox that pick-up never takes, a store that shares its storage
/// with a backup copy, a backup hint that names a taken number, a run
/// journal that is not a file.
void audit_consistency(const std::string& dir, const std::string& orv_id, const stored_ids& ids,
                       std::vector<site_problem>* problems);

}  // namespace orvsite
