#include "site/keywords.h"

#include <sstream>

#include "gtest/gtest.h"

namespace {

using site::keyword_tree;

const char* const example_kb =
    "science (\n"
    "physics\n"
    "computing ( retrieval databases )\n"
    ")\n";

keyword_tree parse_ok(const std::string& text,
                      keyword_tree::blank_rule rule = keyword_tree::blank_rule::keyword,
                      const std::string& root = "") {
  std::string err;
  std::optional<keyword_tree> t = keyword_tree::parse(text, rule, root, &err);
  EXPECT_TRUE(t) << err;
  return t ? std::move(*t) : *keyword_tree::parse("", rule, root, nullptr);
}

// The tree as text: each node's name in brackets, children in parentheses.
std::string shape(const keyword_tree& t, int i = keyword_tree::root) {
  std::string s = "[" + t.at(i).name + "]";
  if (t.at(i).first_child >= 0) {
    s += "(";
    for (int c = t.at(i).first_child; c >= 0; c = t.at(c).next_sibling) s += shape(t, c);
    s += ")";
  }
  return s;
}

TEST(KeywordTree, ReadsTheHierarchyWithDepthsAndParents) {
  keyword_tree t = parse_ok(example_kb);
  EXPECT_EQ("[]([science]([physics][computing]([retrieval databases])))", shape(t));
  std::optional<int> rd = t.find("retrieval databases");
  ASSERT_TRUE(rd);
  EXPECT_EQ(3, t.at(*rd).depth);
  EXPECT_EQ("computing", t.at(t.at(*rd).parent).name);
  keyword_tree g = parse_ok(example_kb, keyword_tree::blank_rule::group, "Universal");
  EXPECT_EQ("[Universal]([science]([physics][computing]([retrieval databases])))", shape(g));
}

TEST(KeywordTree, TheTwoBlankRules) {
  const std::string text = "a  ,b\t c ,\n x,y\t\n";
  EXPECT_EQ("[]([a b\t c][x y\t])", shape(parse_ok(text)));
  EXPECT_EQ("[U]([a ,b c ,][x,y])", shape(parse_ok(text, keyword_tree::blank_rule::group, "U")));
  // Line ends written with a carriage return read the same.
  EXPECT_EQ("[]([a]([b]))", shape(parse_ok("a\r\n(\r\nb\r\n)\r\n")));
}

TEST(KeywordTree, LevelsOpenAgainAndCloseAtTheEnd) {
  EXPECT_EQ("[]([a]([b][c]([d]))[e])", shape(parse_ok("a(b)(c(d))e")));
  EXPECT_EQ("[]([a]([b]([c])))", shape(parse_ok("a ( b ( c")))
      << "the end of the file closes every level";
  EXPECT_EQ("[]", shape(parse_ok("")));
}

TEST(KeywordTree, RefusesWhatTheTreeCannotHold) {
  struct {
    std::string text;
    std::string err;
  } cases[] = {
      {"(a)", "line 1: a '(' comes before any keyword of its level"},
      {"a (\n(b)\n)", "line 2: a '(' comes before any keyword of its level"},
      {"a\n)\nb", "line 2: a ')' closes no '('"},
      {std::string(81, 'k'), "line 1: a keyword is longer than 80 characters"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_FALSE(keyword_tree::parse(c.text, keyword_tree::blank_rule::keyword, "", &err))
        << c.text;
    EXPECT_EQ(c.err, err) << c.text;
  }
  EXPECT_EQ(80u, parse_ok(std::string(80, 'k')).at(1).name.size());
  // 80 characters after folding the blanks are fine.
  EXPECT_TRUE(keyword_tree::parse(std::string(40, 'k') + "     " + std::string(39, 'k'),
                                  keyword_tree::blank_rule::keyword, "", nullptr));
}

TEST(KeywordTree, FindIgnoresCaseAndTakesTheFirstInDepthFirstOrder) {
  keyword_tree t = parse_ok("a ( dup ( x ) )\nb\ndup\n");
  std::optional<int> d = t.find("DUP");
  ASSERT_TRUE(d);
  EXPECT_EQ(2, t.at(*d).depth) << "the one below a comes first";
  EXPECT_FALSE(t.find("missing"));
  EXPECT_FALSE(t.find("")) << "the root is not a keyword";
}

TEST(WordList, WordsEndWithASeparator) {
  using V = std::vector<std::string>;
  EXPECT_EQ((V{"a"}), site::split_words("a#b!"));
  EXPECT_EQ((V{"a", "b"}), site::split_words("a#b,!"));
  EXPECT_EQ((V{"a"}), site::split_words("a#!b#c#"));
  EXPECT_EQ((V{}), site::split_words("!"));
  EXPECT_EQ((V{}), site::split_words(""));
  EXPECT_EQ((V{"retrieval databases", ""}), site::split_words("retrieval databases##!"));
}

TEST(KeywordDistance, StepsUpToTheNearestCommonAncestor) {
  keyword_tree t = parse_ok(example_kb);
  EXPECT_EQ(std::pair(1, 1), site::keyword_distance(t, "physics", "computing"));
  EXPECT_EQ(std::pair(0, 0), site::keyword_distance(t, "Physics", "PHYSICS"));
  EXPECT_EQ(std::pair(2, 0), site::keyword_distance(t, "retrieval databases", "science"));
  EXPECT_EQ(std::pair(0, 1), site::keyword_distance(t, "computing", "retrieval databases"));
  EXPECT_EQ(std::pair(1, 2), site::keyword_distance(t, "physics", "retrieval databases"));
  EXPECT_EQ(std::pair(-1, 0), site::keyword_distance(t, "art", "physics"));
  EXPECT_EQ(std::pair(0, -1), site::keyword_distance(t, "physics", "art"));
  EXPECT_EQ(std::pair(-1, -1), site::keyword_distance(t, "art", "music"));
  keyword_tree two = parse_ok("a\nb\n");
  EXPECT_EQ(std::pair(1, 1), site::keyword_distance(two, "a", "b"))
      << "top-level keywords meet at the root";
}

TEST(KeywordMatch, WithTheRetrievalThreshold) {
  keyword_tree t = parse_ok(example_kb);
  EXPECT_EQ(1, site::keyword_match(t, "physics#!", "computing#!", 1)) << "siblings";
  EXPECT_EQ(0, site::keyword_match(t, "physics#!", "computing#!", 0));
  EXPECT_EQ(1, site::keyword_match(t, "Computing#!", "computing#!", 0)) << "case-insensitive";
  EXPECT_EQ(1, site::keyword_match(t, "science#!", "computing#!", 1)) << "parent";
  EXPECT_EQ(0, site::keyword_match(t, "physics#!", "retrieval databases#!", 1));
  EXPECT_EQ(1, site::keyword_match(t, "physics#!", "retrieval databases#!", 2));
  EXPECT_EQ(1, site::keyword_match(t, "art#physics#!", "music#physics#!", 0))
      << "any pair of words may match";
  for (int r : {0, 1, 5, 100}) {
    EXPECT_EQ(0, site::keyword_match(t, "physics#!", "art#!", r)) << r;
    EXPECT_EQ(0, site::keyword_match(t, "art#!", "art#!", r)) << r;
  }
  EXPECT_EQ(0, site::keyword_match(t, "physics#!", "physics!", 1)) << "no word in the query";
  EXPECT_EQ(0, site::keyword_match(t, "physics#!", "physics#!", -1));
}

// Every pair of word lists over a deeper tree matches exactly when some
// pair of their words is near, as keyword_distance measures it.
TEST(KeywordMatch, AgreesWithTheDistanceOfEveryPair) {
  keyword_tree t = parse_ok("a ( b ( c ( d e ) f ) g ( h ) )\ni ( j ( k ) )\nl\n");
  const std::vector<std::string> words = {"a", "b", "c", "d", "e", "f", "g", "h",
                                          "i", "j", "k", "l", "zz"};
  for (int r = 0; r <= 4; ++r) {
    for (size_t x1 = 0; x1 < words.size(); ++x1) {
      for (size_t x2 = x1; x2 < words.size(); x2 += 5) {
        for (size_t y = 0; y < words.size(); ++y) {
          bool near = false;
          for (const std::string& x : {words[x1], words[x2]}) {
            auto [p, q] = site::keyword_distance(t, x, words[y]);
            near = near || (p >= 0 && p <= r && q >= 0 && q <= r);
          }
          std::string mine = words[x1] + "#" + words[x2] + "#!";
          EXPECT_EQ(near ? 1 : 0, site::keyword_match(t, mine, words[y] + "#!", r))
              << mine << " " << words[y] << " " << r;
        }
      }
    }
  }
}

// Both lists come from outside: 20,000 words on each side are matched with
// work that grows with their sum (pairwise, this ran for minutes).
TEST(KeywordMatch, LongListsOnBothSides) {
  keyword_tree t = parse_ok(example_kb);
  std::string mine, asked;
  for (int i = 0; i < 20000; ++i) {
    mine += "physics#";
    asked += "word" + std::to_string(i) + "#";
  }
  EXPECT_EQ(0, site::keyword_match(t, mine + "!", asked + "!", 3));
  EXPECT_EQ(1, site::keyword_match(t, mine + "!", asked + "computing#!", 1));
}

TEST(GroupOfList, NearestCommonAncestorOfAllWords) {
  keyword_tree g = parse_ok(example_kb, keyword_tree::blank_rule::group, "Universal");
  std::ostringstream page;
  formdecode::output out(page);
  auto group = [&](const std::string& list) -> std::string {
    std::optional<site::group_ref> r = site::group_of_list(g, site::split_words(list), out);
    if (!r) return "none";
    return g.at(r->node).name + "/" + std::to_string(r->depth);
  };
  EXPECT_EQ("science/1", group("physics#retrieval databases#!"));
  EXPECT_EQ("physics/2", group("physics#!"));
  EXPECT_EQ("computing/2", group("Retrieval Databases#computing#!"));
  EXPECT_EQ("none", group("!"));
  EXPECT_EQ("", page.str());
  EXPECT_EQ("none", group("physics#<art>#!"));
  EXPECT_EQ("Error: key word &lt;art&gt; not found\n", page.str());

  keyword_tree two = parse_ok("a\nb\n", keyword_tree::blank_rule::group, "Universal");
  std::optional<site::group_ref> r = site::group_of_list(two, {"a", "b"}, out);
  ASSERT_TRUE(r);
  EXPECT_EQ("Universal", two.at(r->node).name);
  EXPECT_EQ(0, r->depth);
}

TEST(KnowledgeBase, BothTreesFromOneText) {
  std::string err;
  std::optional<site::knowledge_base> kb =
      site::parse_knowledge_base("a, b\t(c)\n", &err);
  ASSERT_TRUE(kb) << err;
  EXPECT_EQ("[]([a b\t]([c]))", shape(kb->keywords));
  EXPECT_EQ("[Universal]([a, b]([c]))", shape(kb->groups));
  EXPECT_FALSE(site::parse_knowledge_base("x\n)\n", &err));
  EXPECT_EQ("line 2: a ')' closes no '('", err);
}

}  // namespace
