// Virtual groups: the vantles of a site gathered under the nodes of the
// group tree. A vantle belongs to the node that is the nearest common
// ancestor of all the words of its `i_am` list.
//
// Groups are stored nowhere: they live in the member lists of the group
// tree, which every request reads afresh from `kb.txt`, and are filled
// again as the cells are restored. The create action enters a new vantle
// and reports its group; the delete action removes a vantle.
#pragma once

#include <map>
#include <optional>

#include "engine/population.h"
#include "formdecode/page.h"
#include "site/keywords.h"
#include "site/vantle.h"

namespace site {

/// Enters vantle `v` into its group, the group of the words of its `i_am`,
/// as the last member. Returns the group's node in `groups`, or none: a
/// list whose words are not all in the tree (or that has no words) gives
/// "Error occurs in querying vantle\n" on the page; a group that holds 50
/// members already refuses the vantle with a message on the page and in
/// the trace.
std::optional<int> enter_group(keyword_tree& groups, const vantle_record& v,
                               formdecode::output& out);

/// Vantles that full groups refused, by group node.
using refused_vantles = std::map<int, int>;

/// As above, but a refusal is counted in `refused` instead of written, so
/// that restoring many vantles reports each full group once.
std::optional<int> enter_group(keyword_tree& groups, const vantle_record& v,
                               formdecode::output& out, refused_vantles& refused);

/// Writes one refusal per group counted in `refused` to the page and the
/// trace, and forgets the counts.
void report_refused(const keyword_tree& groups, refused_vantles& refused,
                    formdecode::output& out);

/// Writes the "VG-Save" report of the group at `node` to the page. Each
/// member is looked up by its ic id among the cells of `active`; a member
/// without such a vantle cell (sleeping, or a copy whose ic id names a cell
/// of another site) is listed as "error in print_vg_cell <br>\n".
void report_group(const keyword_tree& groups, int node, engine::cell_list& active,
                  formdecode::page& pg);

/// Takes vantle `v` out of its group: every member with its vantle id (ic
/// id, orv id and copy mark), each with "<p>Delete VG successfully\n<p>".
/// A vantle that is not a member changes nothing and writes nothing; a
/// list without a group gives "Error occurs in querying for vantle\n".
void remove_from_group(keyword_tree& groups, const vantle_record& v, formdecode::output& out);

}  // namespace site
