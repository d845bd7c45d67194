// `orvsite check`: reads every file of a site with the programs' own
// readers and reports each damaged one with its line and what is wrong.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace orvsite {

/// One damaged or missing file of a site.
struct site_problem {
  std::string file;  // path below the site directory, e.g. "html/kb.txt"
  std::string what;  // what is wrong, with the line when the reader tells it
};

/// The problems of the site `dir`: config.txt, site.config (which must list
/// the site's orv id), kb.txt, every TYPE.in, file.ic, name_db, vantle_db,
/// the two counters, every file in inbox, every page description and the
/// manager programs the pages name; whether the files agree with each
/// other; with `user`, whether that user may use every file as the
/// programs need. Nothing is written.
std::vector<site_problem> check_site(const std::string& dir, int* files_read,
                                     const platform::user_account* user = nullptr);

/// The user the web server runs the programs of the site `dir` as: `name`,
/// or the owner of its html directory. Nothing (with `*why`) when there is
/// no such user or no html directory.
std::optional<platform::user_account> site_user(const std::string& dir,
                                                const std::optional<std::string>& name,
                                                std::string* why);

/// Writes one line per problem ("file: what") and returns 1, or writes
/// that the site is in order and returns 0; 2 (with the reason on `err`)
/// for an unknown `user_name`.
int check_command(const std::string& dir, std::ostream& out, std::ostream& err,
                  const std::optional<std::string>& user_name = std::nullopt);

}  // namespace orvsite
