// Form to message: the external message that a request's form asks for,
// built from the decoded fields. Every check is made in a fixed order; the
// first that fails writes its text to the page and ends the run with status
// 0. What the values of a well-formed message must hold is checked next, by
// the form check (site/form_check.h), before anything is read or changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ext_message.h"
#include "formdecode/field_store.h"
#include "formdecode/page.h"

namespace site {

/// Most parameters a form may name with ic_par_num.
constexpr int max_form_parameters = 100;

/// Where the forms of the manager programs differ; the defaults are the
/// site manager's.
struct form_rules {
  bool takes_sym_name = true;  // WWW_ic_sym_name is read
  std::string system_ic_type;  // the IC type of an ORV_MSG message
  std::string_view ic_type_too_long = "ic_type is too long.\n";  // refusal text
};

/// A form that cannot be made into a message: the field at fault (without
/// "WWW_"), what it holds (empty when it is missing) and the page text
/// that said so.
struct form_fault {
  std::string field;
  std::string value;
  std::string why;
};

/// Builds the external message from the form fields of a request. The
/// first check that fails writes its text to the page, fills `*fault`
/// (when given) and ends the run with status 0 (`run_exit{0}`).
engine::ext_message build_ext_message(const formdecode::field_store& fields,
                                      const engine::site_identity& site, std::int32_t pid,
                                      formdecode::page& pg, const form_rules& rules = {},
                                      form_fault* fault = nullptr);

/// The flag of a flag word of a form ("old", "NEW", "IC_ID_TYPE", ...), or 0
/// for any other text (the words are case-sensitive).
std::int32_t flag_of_word(const std::string& word);

}  // namespace site
