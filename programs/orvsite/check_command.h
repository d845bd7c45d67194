// `orvsite check`: reads every file of a site with the programs' own
// readers and reports each damaged one with its line and what is wrong.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvsite {

/// One damaged or missing file of a site.
struct site_problem {
  std::string file;  // path below the site directory, e.g. "html/kb.txt"
  std::string what;  // what is wrong, with the line when the reader tells it
};

/// The problems of the site `dir`: config.txt, site.config (which must list
/// the site's orv id), kb.txt, every TYPE.in, file.ic, name_db, vantle_db,
/// the two counters, every file in inbox, every page description and the
/// manager programs the pages name. Nothing is written.
std::vector<site_problem> check_site(const std::string& dir, int* files_read);

/// Writes one line per problem ("file: what") and returns 1, or writes
/// that the site is in order and returns 0.
int check_command(const std::string& dir, std::ostream& out);

}  // namespace orvsite
