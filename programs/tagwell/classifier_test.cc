#include "programs/tagwell/classifier.h"

#include <unistd.h>

#include <sstream>

#include "formdecode/page.h"
#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace {

using test_util::write_file;

struct classified {
  std::string result;
  std::string out;
  std::string err;
  int status = -2;  // -2: returned
};

class Classifier : public test_util::in_temp_dir {
 protected:
  classified classify(const std::string& kb, const std::string& doc) {
    write_file("kb.txt", kb);
    write_file("doc.txt", doc);
    classified c;
    std::ostringstream out, err;
    try {
      c.result = tagwell::classify_document(out, err);
    } catch (const formdecode::run_exit& e) {
      c.status = e.status;
    }
    c.out = out.str();
    c.err = err.str();
    return c;
  }
};

TEST_F(Classifier, PhraseMatchesCapitalisedWordsWithOneBlank) {
  classified c = classify("(\nsoftware agent\n)\nagent\n", "A Software Agent and an agent.");
  EXPECT_EQ("software agent\nagent\n", c.out);
  EXPECT_EQ("software agent", c.result) << "of equal counts the earlier match wins";

  classified two_blanks = classify("software agent\n", "software  agent");
  EXPECT_EQ("", two_blanks.out);
  EXPECT_EQ("", two_blanks.result);
}

TEST_F(Classifier, MostFrequentKeywordWins) {
  classified c = classify("cell\nmessage\n", "message cell MESSAGE, cells message");
  EXPECT_EQ("message\ncell\nmessage\nmessage\n", c.out);
  EXPECT_EQ("message", c.result);
  EXPECT_EQ("", classify("cell\n", "nothing to see here").result);
}

TEST_F(Classifier, KeywordListRules) {
  // A mark that shares a line with a keyword stays part of it; the last line
  // without a line end is not used.
  classified c = classify("  ( cell\n   message  \nsite", "cell message site");
  EXPECT_EQ("", c.out);
  classified d = classify("\n\n  cell\n(\nsite\n", "site cell");
  EXPECT_EQ("site\ncell\n", d.out);
  EXPECT_EQ("site", d.result);
}

TEST_F(Classifier, PhraseReadAheadGoesBack) {
  // "data" begins "data base"; the next word is not "base", so it is read again.
  classified c = classify("data base\nmodel\n", "data model");
  EXPECT_EQ("model\n", c.out);
  classified end = classify("data base\n", "data");
  EXPECT_EQ("", end.out);
}

TEST_F(Classifier, Failures) {
  classified word = classify("a\n", std::string(81, 'w'));
  EXPECT_EQ(1, word.status);
  EXPECT_EQ("Word too long", word.err);
  EXPECT_EQ(-2, classify("a\n", std::string(80, 'w')).status);

  std::string many;
  for (int i = 0; i < 52; ++i) {
    many += 'k';
    many.append(static_cast<size_t>(i) + 1, 'x');
    many += '\n';
  }
  classified table = classify(many, "text");
  EXPECT_EQ(1, table.status);
  EXPECT_EQ("Too many keywords in knowledge database!", table.err);

  classified longkw = classify(std::string(80, 'k') + "\n", "text");
  EXPECT_EQ(1, longkw.status);

  std::string kb, doc;
  for (int i = 0; i < 50; ++i) {
    std::string w(1, static_cast<char>('a' + i % 26));
    w += static_cast<char>('a' + i / 26);
    kb += w + "\n";
    doc += w + " ";
  }
  classified counted = classify(kb, doc);
  EXPECT_EQ(1, counted.status);
  EXPECT_EQ("Too many different keywords in document!", counted.err);

  ::unlink("kb.txt");
  std::ostringstream out, err;
  EXPECT_THROW(tagwell::classify_document(out, err), formdecode::run_exit);
  EXPECT_EQ("Can't open knowledge database!", err.str());
}

TEST_F(Classifier, MissingDocument) {
  write_file("kb.txt", "a\n");
  std::ostringstream out, err;
  try {
    tagwell::classify_document(out, err);
    FAIL() << "a missing document ends the run";
  } catch (const formdecode::run_exit& e) {
    EXPECT_EQ(1, e.status);
  }
  EXPECT_EQ("Can't open document\n", out.str());
}

}  // namespace
