// Entering, reporting and removing the members of virtual groups.
#include "site/groups.h"

#include <algorithm>

namespace site {
namespace {

// The group of a vantle's `i_am` list; "Error: key word %s not found\n"
// for a word that is not in the tree.
std::optional<int> group_of(keyword_tree& groups, const vantle_record& v,
                            formdecode::output& out) {
  if (std::optional<int> known = groups.known_group(v.i_am)) return known;
  // Only a list that has a group is remembered: one that has none says
  // why on the page each time.
  std::optional<group_ref> g = group_of_list(groups, split_words(v.i_am), out);
  if (!g) return std::nullopt;
  groups.remember_group(v.i_am, g->node);
  return g->node;
}

bool is_vantle(const group_member& m, const vantle_record& v) {
  return m.ic_id == v.ic_id && m.orv_id == v.orv_id && m.copy_mark == v.copy_mark;
}

}  // namespace

namespace {

// Enters `v`, or counts it in `refused` (or writes the refusal when there
// is no count) when its group is full.
std::optional<int> enter(keyword_tree& groups, const vantle_record& v, formdecode::output& out,
                         refused_vantles* refused) {
  std::optional<int> node = group_of(groups, v, out);
  if (!node) {
    out.pg().write("Error occurs in querying vantle\n");
    return std::nullopt;
  }
  std::vector<group_member>& members = groups.at(*node).members;
  // A group node holds a fixed number of members; a further vantle is
  // refused rather than dropping or overwriting one already in.
  if (members.size() >= max_group_members) {
    if (refused) {
      ++(*refused)[*node];
    } else {
      out.both("Error: the virtual group %s is full (%d vantles); vantle %d is not entered.\n",
               groups.at(*node).name, static_cast<int>(max_group_members), v.ic_id);
    }
    return std::nullopt;
  }
  members.push_back(group_member{v.ic_id, v.orv_id, v.copy_mark});
  return node;
}

}  // namespace

std::optional<int> enter_group(keyword_tree& groups, const vantle_record& v,
                               formdecode::output& out) {
  return enter(groups, v, out, nullptr);
}

std::optional<int> enter_group(keyword_tree& groups, const vantle_record& v,
                               formdecode::output& out, refused_vantles& refused) {
  return enter(groups, v, out, &refused);
}

void report_refused(const keyword_tree& groups, refused_vantles& refused,
                    formdecode::output& out) {
  for (const auto& [node, count] : refused) {
    out.both("Error: the virtual group %s is full (%d vantles); vantles not entered: %d.\n",
             groups.at(node).name, static_cast<int>(max_group_members), count);
  }
  refused.clear();
}

void report_group(const keyword_tree& groups, int node, engine::cell_list& active,
                  formdecode::page& pg) {
  const std::vector<group_member>& members = groups.at(node).members;
  pg.write("<hr>\n");
  pg.write("<font size=+2>Information about VG-Save</font><br>\n");
  pg.print("%d vantle(s) of this category<br>\n", static_cast<int>(members.size()));
  pg.write("======================================<br>\n");
  for (const group_member& m : members) {
    // Ids are compared without reaching the cells; only the member is read.
    auto cell = active.begin();
    while (cell != active.end() && cell.slot().id() != m.ic_id) ++cell;
    const vantle_record* v =
        cell == active.end() ? nullptr : dynamic_cast<const vantle_record*>(cell->mm.get());
    if (v) {
      pg.print("vantle(%d)=doc {%s}<br>\n", v->ic_id, v->doc_id);
    } else {
      pg.write("error in print_vg_cell <br>\n");
    }
  }
  pg.write("<hr>\n");
}

void remove_from_group(keyword_tree& groups, const vantle_record& v, formdecode::output& out) {
  std::optional<int> node = group_of(groups, v, out);
  if (!node) {
    out.pg().write("Error occurs in querying for vantle\n");
    return;
  }
  // Every entry of the vantle goes, also one that moves up into the place
  // of a removed one (a vantle entered twice in a row).
  std::vector<group_member>& members = groups.at(*node).members;
  for (auto it = members.begin(); it != members.end();) {
    if (is_vantle(*it, v)) {
      it = members.erase(it);
      out.pg().write("<p>Delete VG successfully\n<p>");
    } else {
      ++it;
    }
  }
}

}  // namespace site
