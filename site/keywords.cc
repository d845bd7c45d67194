// Reading the keyword hierarchy; finding, comparing and grouping keywords.
#include "site/keywords.h"

#include "text/text.h"

namespace site {
namespace {

// True for the characters that a blank rule folds into one blank.
bool is_blank(char c, keyword_tree::blank_rule rule) {
  if (c == ' ') return true;
  return rule == keyword_tree::blank_rule::keyword ? c == ',' : c == '\t';
}

}  // namespace

std::optional<keyword_tree> keyword_tree::parse(std::string_view text, blank_rule rule,
                                                std::string root_name, std::string* err) {
  keyword_tree t;
  t.nodes_.emplace_back();
  t.nodes_.back().name = std::move(root_name);
  std::vector<int> last_child{-1};  // per node: its last child, for appending
  std::vector<int> levels{root};    // the open levels, innermost last
  int line = 1;
  auto fail = [&](const std::string& why) -> std::optional<keyword_tree> {
    if (err) *err = "line " + std::to_string(line) + ": " + why;
    return std::nullopt;
  };

  size_t pos = 0;
  for (;;) {
    while (pos < text.size() &&
           (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r')) {
      if (text[pos] == '\n') ++line;
      ++pos;
    }
    if (pos >= text.size()) break;  // every open level ends here
    char c = text[pos];
    if (c == '(') {
      int last = last_child[static_cast<size_t>(levels.back())];
      if (last < 0) return fail("a '(' comes before any keyword of its level");
      levels.push_back(last);
      ++pos;
      continue;
    }
    if (c == ')') {
      if (levels.size() == 1) return fail("a ')' closes no '('");
      levels.pop_back();
      ++pos;
      continue;
    }

    // A keyword, up to the line end or a parenthesis, which stays for the
    // next token. A carriage return before the line feed belongs to the
    // line end.
    std::string name;
    bool pending_blank = false;
    for (; pos < text.size(); ++pos) {
      char k = text[pos];
      if (k == '\n' || k == '(' || k == ')') break;
      if (k == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') break;
      if (is_blank(k, rule)) {
        pending_blank = true;
        continue;
      }
      if (pending_blank) name += ' ';
      pending_blank = false;
      name += k;
      if (name.size() > max_keyword_length) {
        return fail("a keyword is longer than " + std::to_string(max_keyword_length) +
                    " characters");
      }
    }

    int parent = levels.back();
    int index = t.size();
    node n;
    n.name = std::move(name);
    n.parent = parent;
    n.depth = t.at(parent).depth + 1;
    t.nodes_.push_back(std::move(n));
    last_child.push_back(-1);
    int& prev = last_child[static_cast<size_t>(parent)];
    if (prev < 0) {
      t.at(parent).first_child = index;
    } else {
      t.at(prev).next_sibling = index;
    }
    prev = index;
  }
  t.index_names();
  return t;
}

void keyword_tree::index_names() {
  // Depth-first, parents before children, siblings in order; the first
  // node of a name keeps it.
  by_name_.clear();
  std::vector<int> stack;
  if (at(root).first_child >= 0) stack.push_back(at(root).first_child);
  while (!stack.empty()) {
    int i = stack.back();
    stack.pop_back();
    by_name_.emplace(text::lower(at(i).name), i);
    if (at(i).next_sibling >= 0) stack.push_back(at(i).next_sibling);
    if (at(i).first_child >= 0) stack.push_back(at(i).first_child);
  }
}

std::optional<int> keyword_tree::find(std::string_view word) const {
  if (word.size() > max_keyword_length) return std::nullopt;
  auto i = by_name_.find(text::lower(word));
  if (i == by_name_.end()) return std::nullopt;
  return i->second;
}

int keyword_tree::common_ancestor(int a, int b) const {
  while (at(a).depth > at(b).depth) a = at(a).parent;
  while (at(b).depth > at(a).depth) b = at(b).parent;
  while (a != b) {
    a = at(a).parent;
    b = at(b).parent;
  }
  return a;
}

std::vector<std::string> split_words(std::string_view list) {
  std::vector<std::string> words;
  std::string word;
  for (char c : list) {
    if (c == '!') break;
    if (c == '#' || c == ',') {
      words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

std::pair<int, int> keyword_distance(const keyword_tree& tree, std::string_view a,
                                     std::string_view b) {
  std::optional<int> na = tree.find(a);
  std::optional<int> nb = tree.find(b);
  if (!na || !nb) return {na ? 0 : -1, nb ? 0 : -1};
  int top = tree.common_ancestor(*na, *nb);
  return {tree.at(*na).depth - tree.at(top).depth, tree.at(*nb).depth - tree.at(top).depth};
}

int keyword_match(const keyword_tree& tree, std::string_view i_am, std::string_view query,
                  int retrieve_threshold) {
  if (retrieve_threshold < 0) return 0;
  // Two words are near when some node lies at most `retrieve_threshold`
  // steps above each: then their nearest common ancestor does too. The
  // nodes up to that many steps above the words of `i_am` are marked once,
  // and each word of `query` climbs as far looking for a mark, so the work
  // grows with the sum of the word counts, not their product.
  // near_mine[i]: how many steps further up node i still reaches (-1 for
  // a node no word of `i_am` reaches).
  std::vector<int> near_mine(static_cast<size_t>(tree.size()), -1);
  bool any = false;
  for (const std::string& x : split_words(i_am)) {
    std::optional<int> n = tree.find(x);
    if (!n) continue;
    any = true;
    int left = retrieve_threshold;
    for (int at = *n; at >= 0 && left >= 0; at = tree.at(at).parent, --left) {
      int& mark = near_mine[static_cast<size_t>(at)];
      if (mark >= left) break;  // an earlier word reached this far and beyond
      mark = left;
    }
  }
  if (!any) return 0;
  for (const std::string& y : split_words(query)) {
    std::optional<int> n = tree.find(y);
    if (!n) continue;
    int left = retrieve_threshold;
    for (int at = *n; at >= 0 && left >= 0; at = tree.at(at).parent, --left) {
      if (near_mine[static_cast<size_t>(at)] >= 0) return 1;
    }
  }
  return 0;
}

std::optional<group_ref> group_of_list(const keyword_tree& groups,
                                       const std::vector<std::string>& words,
                                       formdecode::output& out) {
  std::optional<int> group;
  for (const std::string& w : words) {
    std::optional<int> n = groups.find(w);
    if (!n) {
      out.both("Error: key word %s not found\n", w);
      return std::nullopt;
    }
    group = group ? groups.common_ancestor(*group, *n) : *n;
  }
  if (!group) return std::nullopt;
  return group_ref{*group, groups.at(*group).depth};
}

std::optional<knowledge_base> parse_knowledge_base(std::string_view text, std::string* err) {
  std::optional<keyword_tree> groups =
      keyword_tree::parse(text, keyword_tree::blank_rule::group, "Universal", err);
  if (!groups) return std::nullopt;
  std::optional<keyword_tree> keywords =
      keyword_tree::parse(text, keyword_tree::blank_rule::keyword, "", err);
  if (!keywords) return std::nullopt;
  return knowledge_base{std::move(*keywords), std::move(*groups)};
}

}  // namespace site
