// The site data that a cell request needs besides the cells: the table of
// query sites and the keyword knowledge base. Both are read from their
// files at the start of every such request and live for that request.
#pragma once

#include "formdecode/page.h"
#include "site/keywords.h"
#include "site/site_table.h"

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
site_table read_site_table(formdecode::output& out);

/// Reads `kb.txt` into the group tree rooted at "Universal" and the keyword
/// tree. A missing file ends the run with "Cannot open data file %s\n", a
/// refused one with "The data file %s is damaged: ...\n" (both on the page
/// and in the trace, status 1).
knowledge_base read_knowledge_base(formdecode::output& out);

/// Both, in that order.
world read_world(formdecode::output& out);

}  // namespace site
