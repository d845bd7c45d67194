#include "programs/tagwell/classifier.h"

#include <cctype>
#include <optional>
#include <utility>
#include <vector>

#include "formdecode/page.h"
#include "platform/platform.h"
#include "text/text.h"

namespace tagwell {
namespace {

using formdecode::run_exit;

[[noreturn]] void fail(std::ostream& stream, const char* text) {
  stream << text;
  stream.flush();
  throw run_exit{1};
}

bool is_letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// The keyword list: after white space, one line; a last line without a
// line end is not used; lines "(" and ")" alone are grouping marks.
std::vector<std::string> read_keywords(const std::string& text, std::ostream& err) {
  std::vector<std::string> keywords;
  size_t pos = 0;
  for (;;) {
    while (pos < text.size() && text::is_space(text[pos])) ++pos;
    size_t nl = text.find('\n', pos);
    if (pos >= text.size() || nl == std::string::npos) break;
    std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "(" || line == ")") continue;
    if (line.size() > max_keyword_length) fail(err, "Keyword too long");
    if (keywords.size() == max_keywords) fail(err, "Too many keywords in knowledge database!");
    keywords.push_back(line);
  }
  return keywords;
}

// The document as a stream of characters with push-back.
class document {
 public:
  explicit document(std::string text) : text_(std::move(text)) {}
  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  char get() { return text_[pos_++]; }
  size_t mark() const { return pos_; }
  void back_to(size_t mark) { pos_ = mark; }

 private:
  std::string text_;
  size_t pos_ = 0;
};

// The run of letters at the current position.
std::string read_word(document& doc, std::ostream& err) {
  std::string word;
  while (!doc.at_end() && is_letter(doc.peek())) {
    if (word.size() == max_word_length) fail(err, "Word too long");
    word += doc.get();
  }
  return word;
}

// After a word that begins `keyword`: the separators up to the next letter
// and the following word, appended to the word. Nothing when the document
// ends first or the phrase grows longer than any keyword can be.
std::optional<std::string> read_phrase(document& doc, const std::string& word) {
  std::string phrase = word;
  while (!doc.at_end() && !is_letter(doc.peek())) {
    phrase += doc.get();
    if (phrase.size() > max_keyword_length) return std::nullopt;
  }
  if (doc.at_end()) return std::nullopt;
  while (!doc.at_end() && is_letter(doc.peek())) {
    phrase += doc.get();
    if (phrase.size() > max_keyword_length) return std::nullopt;
  }
  return phrase;
}

}  // namespace

std::string classify_document(std::ostream& out, std::ostream& err) {
  std::optional<std::string> kb = platform::read_file(keyword_file);
  if (!kb) fail(err, "Can't open knowledge database!");
  std::vector<std::string> keywords = read_keywords(*kb, err);
  std::vector<std::string> lowered;
  for (const std::string& k : keywords) lowered.push_back(text::lower(k));

  std::optional<std::string> text = platform::read_file(document_file);
  if (!text) fail(out, "Can't open document\n");
  document doc(std::move(*text));

  std::vector<std::pair<size_t, int>> counts;  // keyword index, count; first match first
  auto count = [&](size_t k) {
    out << keywords[k] << "\n";
    for (auto& [index, n] : counts) {
      if (index == k) {
        ++n;
        return;
      }
    }
    if (counts.size() == max_counted_keywords) {
      fail(err, "Too many different keywords in document!");
    }
    counts.emplace_back(k, 1);
  };

  for (;;) {
    while (!doc.at_end() && !is_letter(doc.peek())) doc.get();
    if (doc.at_end()) break;
    std::string word = text::lower(read_word(doc, err));
    for (size_t k = 0; k < lowered.size(); ++k) {
      const std::string& key = lowered[k];
      if (key == word) {
        count(k);
        break;
      }
      if (key.starts_with(word)) {
        size_t mark = doc.mark();
        std::optional<std::string> phrase = read_phrase(doc, word);
        if (phrase && text::lower(*phrase) == key) {
          count(k);
          break;
        }
        doc.back_to(mark);
      }
    }
  }

  size_t best = 0;
  for (size_t i = 1; i < counts.size(); ++i) {
    if (counts[i].second > counts[best].second) best = i;
  }
  return counts.empty() ? std::string() : keywords[counts[best].first];
}

}  // namespace tagwell
