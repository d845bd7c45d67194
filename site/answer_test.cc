#include "site/answer.h"

#include "gtest/gtest.h"

namespace {

TEST(Answer, AJsonAnswerIsAskedForByTheAcceptHeader) {
  EXPECT_TRUE(site::wants_json("application/json"));
  EXPECT_TRUE(site::wants_json("text/html;q=0.9, Application/JSON; charset=utf-8"));
  EXPECT_FALSE(site::wants_json("text/html,application/xhtml+xml,*/*;q=0.8"));
  EXPECT_FALSE(site::wants_json("application/json;q=0"));
  EXPECT_FALSE(site::wants_json(""));
}

TEST(Answer, ErrorLinesAreTakenWithoutMarkup) {
  EXPECT_EQ((std::vector<std::string>{"Error: one", "Cannot find file site.config",
                                      "The ic id counter x is missing or damaged: y"}),
            site::error_lines("Content-type: text/html\n\nfine\n<p>Error: one\n<p>"
                              "Cannot find file site.config\nno Error here\n"
                              "The ic id counter x is missing or damaged: y<p>"));
}

TEST(Answer, DocumentsAreRankedByTheirDistanceToTheQuery) {
  std::string err;
  std::optional<site::knowledge_base> kb = site::parse_knowledge_base(
      "science (\n physics (\n  optics\n  mechanics\n )\n biology\n)\narts\n", &err);
  ASSERT_TRUE(kb) << err;
  auto doc = [](const char* id, const char* i_am, std::optional<std::string> site) {
    site::document_view d;
    d.doc_id = id;
    d.i_am = i_am;
    d.site = std::move(site);
    return d;
  };
  std::vector<site::document_view> docs = {
      doc("far", "biology#!", "east"),         doc("none", "alchemy#!", "east"),
      doc("b", "optics#!", "south"),           doc("a", "optics#!", "south"),
      doc("near", "mechanics#arts#!", "east"), doc("same", "optics#!", "east")};
  site::rank_documents(docs, "optics#!", &kb->keywords);
  std::vector<std::string> order;
  for (const site::document_view& d : docs) {
    order.push_back(d.doc_id + ":" + (d.distance ? std::to_string(*d.distance) : "-") + ":" +
                    std::to_string(d.rank));
  }
  EXPECT_EQ(
      (std::vector<std::string>{"same:0:1", "a:0:2", "b:0:3", "near:2:4", "far:3:5", "none:-:6"}),
      order);
  EXPECT_EQ((std::vector<std::string>{"d1", "d2"}), site::document_ids("d1#d2#!"));
  EXPECT_EQ((std::vector<std::string>{"doc-001"}), site::document_ids("doc-001"));
  EXPECT_TRUE(site::document_ids("#!").empty());
}

}  // namespace
