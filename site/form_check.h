// Form check: the values of a message that a form sends to `orv`, checked
// against the rules of its message type before the message reaches the
// engine. A request whose values break a rule is refused with one line
// naming the field and the value, and changes nothing; keyword lists and
// comments whose end is missing are mended instead.
//
// Messages that arrive from other sites are not checked here: their words
// come from another site's vocabulary.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ext_message.h"
#include "formdecode/page.h"
#include "site/keywords.h"

#include "platform/site_dir.h"

namespace site {

/// Most words of a keyword list.
inline constexpr size_t max_list_words = 50;

/// Longest document id that `vantle_db` holds.
inline constexpr size_t max_doc_id_length = 255;

/// The keyword list `list` with its end mended: "physics" and "physics#"
/// become "physics#!", the empty text the empty list "!", and blanks
/// around the words go. Nothing, with `*why` set, when a "!" stands
/// before the end.
std::optional<std::string> mend_keyword_list(std::string_view list, std::string* why);

/// The comment `comment` with "#!" appended when its last line holds none.
std::string mend_comment(std::string_view comment);

/// The values of a form's content (what the form gave, without the
/// db_access element that ends every content) and that last element.
struct form_values {
  std::vector<std::string> values;
  std::string db_access;
};
form_values split_content(std::string_view content);
std::string join_content(const form_values& v);

/// A value of a form that breaks a rule.
struct form_refusal {
  enum class taken_in { none, name_db, vantle_db };

  std::string what;   // "value" or "word"
  std::string text;   // the value or word as the form gave it
  std::string field;  // the form field (or the role of a content value)
  std::string why;    // the rule it breaks: the system's own text
  taken_in taken = taken_in::none;  // the name is refused as another has it there
};

/// Checks the message `m` built from a form, and mends its content in
/// place; the first value that breaks a rule, or nothing. `groups` as for
/// `check_form`. Nothing is written to the page but what reading the
/// naming files says.
std::optional<form_refusal> refusal_of_form(engine::ext_message& m, const keyword_tree* groups,
                                            formdecode::page& pg,
                                            const platform::site_dir& dir = {});

/// The refusal line of `r`: "The value "..." of FIELD is refused: WHY.".
void write_refusal_line(formdecode::page& pg, const form_refusal& r);

/// The whole refusal of `r` on the page: for a name that another cell has
/// in `name_db` first "<p>The given symbolic name "%s" has already been
/// used!!\n <p>" and "The IC can't be created.\n<p>", for a vantle name
/// that `vantle_db` has the first of the two, then the refusal line.
void write_refusal(formdecode::page& pg, const form_refusal& r);

/// Checks the message `m` built from a form, and mends its content in
/// place. `groups` is the group tree of `kb.txt`, whose keywords the
/// `i_am` of a new vantle must use (none for system messages). Writes one
/// refusal line (alone) to the page and returns false when a value breaks
/// a rule.
bool check_form(engine::ext_message& m, const keyword_tree* groups, formdecode::page& pg);

}  // namespace site
