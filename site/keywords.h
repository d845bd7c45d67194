// Keyword knowledge base: the keyword hierarchy of `kb.txt`, read into a
// keyword tree (for matching queries) and a group tree rooted at
// "Universal" (whose nodes are the virtual groups of vantles).
//
// `kb.txt` is a sequence of entries; an entry is a keyword, optionally
// followed by "(", the entries of its children and ")". A keyword runs up
// to the next line end, "(" or ")", so it may hold blanks:
//
//   science (
//   physics
//   computing ( retrieval databases )
//   )
//
// Two keywords are near when both lie close below a common ancestor.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formdecode/page.h"

namespace site {

/// Longest keyword of the hierarchy.
inline constexpr size_t max_keyword_length = 80;

/// Most members of one virtual group.
inline constexpr size_t max_group_members = 50;

/// A member of a virtual group: the id of a vantle.
struct group_member {
  std::int32_t ic_id = 0;  // ic id of the vantle's cell
  std::string orv_id;      // site that holds it
  char copy_mark = 'n';    // 's' source, 'c' copy, 'n' none
};

/// A tree of keywords. The root (index 0) is not a keyword: it has an
/// empty name in the keyword tree and is named "Universal" in the group
/// tree.
class keyword_tree {
 public:
  /// How the characters inside a keyword are read.
  enum class blank_rule {
    keyword,  // runs of blanks and commas become one blank, none at the end; tabs kept
    group,    // runs of blanks and tabs become one blank, none at the end; commas kept
  };

  struct node {
    std::string name;        // the keyword, at most 80 characters
    int parent = -1;         // index of the parent; -1 for the root
    int first_child = -1;    // index of the first child, or -1
    int next_sibling = -1;   // index of the next sibling, or -1
    int depth = 0;           // 0 for the root, 1 for its children, ...
    std::vector<group_member> members;  // the virtual group (group tree only)
  };

  static constexpr int root = 0;

  /// Reads the text of a `kb.txt` with the given blank rule. A keyword over
  /// 80 characters, a "(" before any keyword of its level, or a ")" that
  /// closes nothing gives nothing, and `*err` says what and on which line.
  /// At the end of the text every open "(" is taken as closed.
  static std::optional<keyword_tree> parse(std::string_view text, blank_rule rule,
                                           std::string root_name, std::string* err);

  int size() const { return static_cast<int>(nodes_.size()); }
  const node& at(int i) const { return nodes_[static_cast<size_t>(i)]; }
  node& at(int i) { return nodes_[static_cast<size_t>(i)]; }

  /// The node of `word`, compared without regard to case; the first in
  /// depth-first order (parents before children, children in file order)
  /// when a keyword occurs twice. The root is never found.
  std::optional<int> find(std::string_view word) const;

  /// The nearest common ancestor of two nodes.
  int common_ancestor(int a, int b) const;

  /// The group found before for the keyword list `list`, if any: a load
  /// enters thousands of vantles, most of them with the same few lists.
  std::optional<int> known_group(const std::string& list) const {
    auto i = groups_of_lists_.find(list);
    if (i == groups_of_lists_.end()) return std::nullopt;
    return i->second;
  }
  void remember_group(const std::string& list, int group) { groups_of_lists_[list] = group; }

 private:
  keyword_tree() = default;
  // Indexes every name, lower-cased, by its first node in depth-first
  // order, the node `find` gives.
  void index_names();

  std::vector<node> nodes_;  // the root first, then every keyword
  std::unordered_map<std::string, int> by_name_;
  std::unordered_map<std::string, int> groups_of_lists_;
};

/// The words of a keyword list: scanning stops at the first "!" or at the
/// end; each "#" or "," ends a word; text after the last separator is not a
/// word. "a#b!" has the single word "a".
std::vector<std::string> split_words(std::string_view list);

/// The distance of two keywords: the steps from each word's node up to
/// their nearest common ancestor, (0, 0) for the same node. A word that is
/// not in the tree gives -1 in its place (and 0 in the other).
std::pair<int, int> keyword_distance(const keyword_tree& tree, std::string_view a,
                                     std::string_view b);

/// 1 when some word of the list `i_am` is near some word of the list
/// `query`: both steps of their distance lie between 0 and
/// `retrieve_threshold`. Otherwise 0. With a threshold of 0 only equal
/// keywords match; with 1 also parent, children and siblings.
int keyword_match(const keyword_tree& tree, std::string_view i_am, std::string_view query,
                  int retrieve_threshold);

/// A virtual group with its depth in the group tree.
struct group_ref {
  int node;   // index in the group tree
  int depth;  // depth of that node
};

/// The group of a word list: the nearest common ancestor of all its words
/// (for one word, its own node). No words give no group. A word that is not
/// in the tree gives "Error: key word %s not found\n" on the page and in the
/// trace, and no group.
std::optional<group_ref> group_of_list(const keyword_tree& groups,
                                       const std::vector<std::string>& words,
                                       formdecode::output& out);

/// Both trees of `kb.txt`.
struct knowledge_base {
  keyword_tree keywords;  // for query matching; root without name
  keyword_tree groups;    // the virtual groups; root "Universal"
};

/// Reads both trees from the text of a `kb.txt` (group tree first); nothing
/// with `*err` set when the text is refused.
std::optional<knowledge_base> parse_knowledge_base(std::string_view text, std::string* err);

}  // namespace site
