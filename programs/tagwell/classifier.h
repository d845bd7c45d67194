// Document classifier: counts the keywords of `kb.txt` (read flat, one
// keyword or two-word phrase a line) in the document `doc.txt` and returns
// the most frequent one.
#pragma once

#include <ostream>
#include <string>

namespace tagwell {

inline constexpr const char* keyword_file = "kb.txt";
inline constexpr const char* document_file = "doc.txt";

constexpr size_t max_keywords = 51;          // entries of the keyword table
constexpr size_t max_keyword_length = 79;    // characters of one keyword
constexpr size_t max_counted_keywords = 49;  // distinct keywords counted
constexpr size_t max_word_length = 80;       // letters of one word

/// Classifies the document in the working directory: every match is written
/// to `out` (the keyword as spelled in `kb.txt`, then a line end); the
/// result is the keyword counted most often, the earliest of equal counts,
/// or the empty text. Failures write their message and end the run with
/// status 1 (`run_exit`).
std::string classify_document(std::ostream& out, std::ostream& err);

}  // namespace tagwell
