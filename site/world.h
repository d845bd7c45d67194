// The site data that a cell request needs besides the cells: the table of
// query sites and the keyword knowledge base. Both are read from their
// files at the start of every such request and live for that request.
#pragma once

#include <string>

#include "formdecode/page.h"
#include "site/keywords.h"
#include "site/site_table.h"

#include "platform/site_dir.h"

namespace site {

inline constexpr const char* site_table_file = "site.config";
inline constexpr const char* knowledge_base_file = "kb.txt";

/// The site data of one request.
struct world {
  site_table sites;   // query sites and distances
  knowledge_base kb;  // keyword tree and group tree
};

/// Reads the query-site table `site.config`. A missing file ends the run
/// with "Cannot find file %s\n", a refused one with "The data file %s is
/// damaged: ...\n" (both on the page and in the trace, status 1).
site_table read_site_table(formdecode::output& out, const platform::site_dir& dir = {});

/// Reads `kb.txt` into the group tree rooted at "Universal" and the keyword
/// tree. A missing file ends the run with "Cannot open data file %s\n", a
/// refused one with "The data file %s is damaged: ...\n" (both on the page
/// and in the trace, status 1).
knowledge_base read_knowledge_base(formdecode::output& out, const platform::site_dir& dir = {});

/// Both, in that order.
world read_world(formdecode::output& out, const platform::site_dir& dir = {});

/// What a run is about to do with the site's files.
enum run_needs : unsigned {
  READS_CELLS = 1,  // reads the store and the site data behind the cells
  SAVES_CELLS = 2,  // also saves the store, files a backup, writes outgoing files
  PICKS_UP = 4,     // also takes incoming files out of `inbox`
};

/// Before a run changes anything: every site file it may read that exists
/// can be read, and every directory it must write can be written. The first
/// that cannot is reported with the system's reason on the page and in the
/// trace, and the run ends (status 1) with everything as it was. Only a file
/// that does not exist counts as absent.
void check_run_files(formdecode::output& out, unsigned needs, const platform::site_dir& dir = {});

/// Reports a site file that exists but cannot be read (`err` names it and
/// the reason, as `platform::read_file` gives it) and ends the run with
/// status 1.
[[noreturn]] void refuse_unreadable(formdecode::output& out, const std::string& err);

}  // namespace site
