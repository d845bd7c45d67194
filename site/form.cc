// The external message built from a form.
#include "site/form.h"
#include "text/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace site {
namespace {

using formdecode::run_exit;

using namespace engine;

// Ends the run on a form that cannot be made into a message: the message
// `fmt` with `args` goes to the page (values escaped); `field`, `value`
// and the message (values as given) into the fault.
template <class... A>
[[noreturn]] void refuse(formdecode::page& pg, form_fault* fault, std::string_view field,
                         std::string_view value, std::string_view fmt, const A&... args) {
  pg.print(fmt, args...);
  if (fault) {
    std::string why = formdecode::format(fmt, {formdecode::fmt_arg(args)...}, false);
    while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
    *fault = form_fault{std::string(field), std::string(value), why};
  }
  throw run_exit{0};
}

// The first number of an id list: a whole decimal integer, sign allowed,
// at the very start of the text and ended by a space or the end. Nothing
// when the list does not begin with one ("12abc" and "1.5" do not: read as
// far as they are numbers they would name another cell), or the number
// does not fit.
std::optional<std::int32_t> first_id(const std::string& list) {
  if (list.empty()) return std::nullopt;
  size_t i = (list[0] == '-' || list[0] == '+') ? 1 : 0;
  if (i >= list.size() || list[i] < '0' || list[i] > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(list.c_str(), &end, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  if (*end != '\0' && *end != ' ') return std::nullopt;
  return static_cast<std::int32_t>(v);
}

// The leading decimal number of a text, as atol reads it (0 when none).
long long leading_count(const std::string& text) { return text::leading_number(text); }

}  // namespace

std::int32_t flag_of_word(const std::string& word) {
  if (word == "old" || word == "OLD" || word == "IC_ID") return IC_ID;
  if (word == "new" || word == "NEW" || word == "IC_TYPE") return IC_TYPE;
  if (word == "oldnew" || word == "OLDNEW" || word == "IC_ID_TYPE") return IC_ID_TYPE;
  if (word == "orv" || word == "ORV" || word == "ORV_MSG") return ORV_MSG;
  return 0;
}

ext_message build_ext_message(const formdecode::field_store& fields, const site_identity& site,
                              std::int32_t pid, formdecode::page& pg, const form_rules& rules,
                              form_fault* fault) {
  ext_message m;
  m.kind = KIND_TYPE_NAME;
  m.pid = pid;

  std::optional<std::string> type = fields.get("WWW_message_type");
  if (!type) refuse(pg, fault, "message_type", "", "Lack of Message Type.\n");
  if (type->size() > max_name_length) {
    refuse(pg, fault, "message_type", *type, "mesg_type is too long.\n");
  }
  m.msg_type_name = *type;
  m.msg_type = -1;
  m.sender = ic_sys_name{"", "", "", -1, 0};

  std::optional<std::string> flag = fields.get("WWW_flag");
  if (!flag) refuse(pg, fault, "flag", "", "Lack of flag\n");
  m.flag = flag_of_word(*flag);
  if (m.flag == 0) {
    refuse(pg, fault, "flag", *flag, "Unexpected flag value %s\n", *flag);
  }

  if (m.flag == ORV_MSG) {
    m.ic_type = rules.system_ic_type;
  } else {
    std::optional<std::string> ic_type = fields.get("WWW_ic_type");
    if (!ic_type) refuse(pg, fault, "ic_type", "", "Lack of ic type.\n");
    if (ic_type->size() > max_name_length) {
      refuse(pg, fault, "ic_type", *ic_type, "%s", rules.ic_type_too_long);
    }
    // The IC type names the type's definition file: no path may hide in it.
    if (ic_type->find_first_of("/\\") != std::string::npos) {
      refuse(pg, fault, "ic_type", *ic_type, "Invalid ic type %s.\n", *ic_type);
    }
    m.ic_type = *ic_type;
  }

  if (std::optional<std::string> sym =
          rules.takes_sym_name ? fields.get("WWW_ic_sym_name") : std::nullopt) {
    if (sym->size() > max_name_length + 1) {
      refuse(pg, fault, "ic_sym_name", *sym, "ic_sym_name is too long.\n");
    }
    m.ic_sym_name = *sym;
  }

  m.receiver = ic_sys_name{site.server_id, site.orv_id, m.ic_type, 0, 's'};
  if (m.flag == IC_ID || m.flag == IC_ID_TYPE) {
    std::optional<std::string> list = fields.get("WWW_ic_id_list");
    if (!list) refuse(pg, fault, "ic_id_list", "", "Lack of ic_id_list.\n");
    while (!list->empty() && list->back() == ' ') list->pop_back();
    std::optional<std::int32_t> id = first_id(*list);
    if (!id) {
      refuse(pg, fault, "ic_id_list", *list,
             "Unexpected ic_id_list value %s: the list must begin with a "
             "whole number, for example 12 or -1.\n",
             *list);
    }
    m.receiver.ic_id = *id;
  }

  // Parameters given by name ("new version" of the content).
  std::optional<std::string> par_num = fields.get("WWW_ic_par_num");
  long long n = par_num ? leading_count(*par_num) : 0;
  if (n > max_form_parameters) {
    refuse(pg, fault, "ic_par_num", *par_num,
           "ic_par_num %s is too large: at most %d parameters.\n", *par_num, max_form_parameters);
  }
  std::vector<std::string> params;
  for (long long i = 1; i <= n; ++i) {
    std::string ref = "ic_par_" + std::to_string(i);
    std::optional<std::string> field_name = fields.get("WWW_" + ref);
    if (!field_name) refuse(pg, fault, ref, "", "Lack of %s.\n", ref);
    std::optional<std::string> value = fields.get("WWW_" + *field_name);
    if (!value) {
      refuse(pg, fault, *field_name, "", "Lack of %s.\n", *field_name);
    }
    // The values are joined with "|": a bar inside one would shift every
    // later field of the content.
    if (value->find('|') != std::string::npos) {
      refuse(pg, fault, *field_name, *value, "The value of %s must not hold \"|\".\n", *field_name);
    }
    params.push_back(*value);
  }

  std::optional<std::string> content = fields.get("WWW_content");
  if (n != 0 && content) {
    refuse(pg, fault, "content", *content,
           "Conflict between old and new version.\n"
           "Either specify parameter values in content directly (old version)\n"
           " or in ic_para_# (new version).\n");
  }

  std::string db_access = fields.get("WWW_db_access").value_or("NULL");
  if (db_access.find('|') != std::string::npos) {
    refuse(pg, fault, "db_access", db_access, "The value of db_access must not hold \"|\".\n");
  }
  std::string text;
  if (par_num) {
    for (const std::string& p : params) text += p + "|";
  } else if (content) {
    text = *content + "|";
  }
  m.content = text + db_access;
  m.content_flag = CONTENT_TEXT;
  return m;
}

}  // namespace site
