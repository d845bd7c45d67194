// The site data that a cell request needs besides the cells: the table of
// query sites and the keyword knowledge base.
#pragma once

#include "formdecode/page.h"

namespace site {

inline constexpr const char* site_table_file = "site.config";
inline constexpr const char* knowledge_base_file = "kb.txt";

/// Reads the query-site table `site.config`; a missing file ends the run
/// with "Cannot find file %s\n" (status 1).
void read_site_table(formdecode::output& out);

/// Reads `kb.txt` into the group tree rooted at "Universal" and then, in a
/// second pass, into the keyword tree; a missing file ends the run with
/// "Cannot open data file %s\n" (status 1).
void read_knowledge_base(formdecode::output& out);

}  // namespace site
