// Query-site distance table: the sites a vantle may travel to, with an
// integer distance between every pair, kept in `site.config`.
//
// The file holds white-space separated decimal tokens: the number of sites
// N; N pairs of a site index (0 to N-1) and the site's name (one word, at
// most 20 characters), in any order; then the N x N distances row by row.
// A distance of 0 or less means "no neighbour".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formdecode/page.h"

namespace site {

/// Most sites a table holds.
inline constexpr int max_sites = 100;

/// Longest site name.
inline constexpr size_t max_site_name_length = 20;

/// The sites and their distances, as read from `site.config`.
class site_table {
 public:
  /// Reads the text of a `site.config`. A text that announces more than 100
  /// sites or fewer than none, gives an index out of range or twice, a name
  /// over 20 characters, a token that is not a number where a number
  /// belongs, or fewer tokens than announced gives nothing and `*err` says
  /// what is wrong (one line, without line feed) and `*err_line`, when
  /// given, on which line of the text. Tokens after the matrix are ignored.
  static std::optional<site_table> parse(std::string_view text, std::string* err,
                                         int* err_line = nullptr);

  /// Number of sites N.
  int count() const { return static_cast<int>(names_.size()); }

  /// The name of site `i` (0 to N-1), spelled as in the file.
  const std::string& name(int i) const { return names_[static_cast<size_t>(i)]; }

  /// The distance from site `i` to site `j`.
  int distance(int i, int j) const {
    return distances_[static_cast<size_t>(i) * names_.size() + static_cast<size_t>(j)];
  }

  /// The index of the first site named `name` without regard to letter case;
  /// nothing when no site has that name. Neither the table nor `name` is
  /// changed.
  std::optional<int> find(std::string_view name) const;

  /// The names of the query sites of site `from`: every site j, in index
  /// order, whose distance d from `from` satisfies 0 < d < `threshold`.
  std::vector<std::string> near_sites(int from, int threshold) const;

 private:
  std::vector<std::string> names_;  // site names by index
  std::vector<int> distances_;      // N x N distances, row by row
};

/// The index of the site `name`. An unknown name ends the run with
/// "Invalid site name:%s\n" on the page and in the trace (status 1).
int site_index(const site_table& table, std::string_view name, formdecode::output& out);

/// The names of this site's query sites: the sites nearer to the site
/// `orv_id` than `vg_threshold` (and not at a distance of 0 or less), in
/// index order. An `orv_id` that is not in the table ends the run as
/// `site_index` does.
std::vector<std::string> query_sites(const site_table& table, std::string_view orv_id,
                                     int vg_threshold, formdecode::output& out);

}  // namespace site
