#include "site/form_check.h"

#include "site/naming.h"
#include "site/vantle.h"
#include "text/text.h"

namespace site {
namespace {

constexpr std::string_view blanks = " \t";

std::string_view trim(std::string_view s) {
  size_t b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

// What a refusal line shows of a value: a long one is cut (at a character
// boundary) and marked, so the line stays readable.
std::string shown(std::string_view v) {
  constexpr size_t most = 100;
  if (v.size() <= most) return std::string(v);
  size_t cut = most;
  while (cut > 0 && (static_cast<unsigned char>(v[cut]) & 0xC0) == 0x80) --cut;
  return std::string(v.substr(0, cut)) + "...";
}

using refusal = form_refusal;

std::string bytes_long(size_t n, size_t most) {
  return "it is " + std::to_string(n) + " bytes long, at most " + std::to_string(most);
}

// How a value of a message content is checked.
enum class role {
  text,        // taken as it is
  doc_id,      // one line of at most 255 bytes (a `vantle_db` line)
  list,        // a keyword list: mended, then words and their number checked
  known_list,  // a list whose words must be keywords of `kb.txt` (`i_am`)
  comment,     // mended: its last line ends with "#!"
  category,    // one of the four vantle categories
  vantle_name, // a name for `vantle_db`: one line, at most 49 bytes, free
};

struct value_rule {
  const char* field;
  role r;
};

// The contents of the vantle messages a form may send, by position (the
// parameters that the vantle's transitions bind and its actions read).
constexpr value_rule create_rules[] = {
    {"doc_id", role::doc_id},   {"i_am", role::known_list}, {"i_love", role::list},
    {"i_hate", role::list},     {"i_behave", role::list},   {"i_keyword", role::list},
    {"i_comment", role::comment}, {"vantle_type", role::category},
    {"sym_name", role::vantle_name},
};
constexpr value_rule description_rules[] = {
    {"doc_id", role::text},  {"i_am", role::list},     {"i_love", role::list},
    {"i_hate", role::list},  {"i_behave", role::list}, {"i_keyword", role::list},
    {"i_comment", role::comment}, {"vantle_type", role::text},
};
constexpr value_rule retrieve_rules[] = {
    {"orv id", role::text}, {"ic id", role::text}, {"query", role::list}, {"doc_id", role::text},
};

struct message_rules {
  std::string_view msg_type;
  const value_rule* rules;
  size_t count;
  bool exact;  // the content must hold exactly `count` values
};

template <size_t N>
constexpr message_rules rules_of(std::string_view type, const value_rule (&r)[N], bool exact) {
  return {type, r, N, exact};
}

constexpr message_rules vantle_messages[] = {
    rules_of("MSG_CREATE", create_rules, true),
    rules_of("MSG_MOVE_KEEP", description_rules, false),
    rules_of("MSG_LOCAL_REPLY", description_rules, false),
    rules_of("MSG_REMOTE_REPLY", description_rules, false),
    rules_of("MSG_RETRIEVE", retrieve_rules, false),
};

// The values as the form gave them, joined with "|".
std::string given_values(const std::vector<std::string>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += '|';
    text += values[i];
  }
  return text;
}


// Checks (and mends) one value; the refusal when it breaks its rule.
std::optional<refusal> check_value(std::string& value, const value_rule& rule,
                                   const keyword_tree* groups, formdecode::page& pg,
                                   const platform::site_dir& dir) {
  const std::string field = rule.field;
  auto refuse = [&](std::string why) { return refusal{"value", value, field, std::move(why)}; };
  switch (rule.r) {
    case role::text:
      return std::nullopt;
    case role::doc_id:
      if (!text::is_one_line(value)) return refuse("it must be one line");
      if (value.size() > max_doc_id_length) {
        return refuse(bytes_long(value.size(), max_doc_id_length));
      }
      return std::nullopt;
    case role::list:
    case role::known_list: {
      std::string why;
      std::optional<std::string> mended = mend_keyword_list(value, &why);
      if (!mended) return refuse(why);
      std::vector<std::string> words = split_words(*mended);
      if (words.size() > max_list_words) {
        return refuse("it has " + std::to_string(words.size()) + " words, at most " +
                      std::to_string(max_list_words));
      }
      for (const std::string& w : words) {
        if (w.size() > max_keyword_length) {
          return refusal{"word", w, field, bytes_long(w.size(), max_keyword_length)};
        }
      }
      if (rule.r == role::known_list && groups) {
        for (const std::string& w : words) {
          if (!groups->find(w)) {
            return refusal{"word", w, field, "it is not a keyword of the knowledge base kb.txt"};
          }
        }
      }
      value = *mended;
      return std::nullopt;
    }
    case role::comment:
      value = mend_comment(value);
      return std::nullopt;
    case role::category:
      for (const char* c : {"Site_Building", "Archives", profile, info_gathering}) {
        if (value == c) return std::nullopt;
      }
      return refuse("it is none of Site_Building, Archives, Profile, Info_Gathering");
    case role::vantle_name:
      if (!text::is_one_line(value)) return refuse("it must be one line");
      if (value.size() > engine::max_name_length) {
        return refuse(bytes_long(value.size(), engine::max_name_length));
      }
      // An empty name is left to the create action, which warns of it.
      if (!value.empty() && vantle_name_taken(value, pg, dir)) {
        refusal r = refuse("another vantle has this name in vantle_db");
        r.taken = refusal::taken_in::vantle_db;
        return r;
      }
      return std::nullopt;
  }
  return std::nullopt;
}

// A new cell's symbolic name goes into its name record, which holds 49
// bytes, and must be free.
std::optional<refusal> check_new_cell_name(const engine::ext_message& m, formdecode::page& pg,
                                           const platform::site_dir& dir) {
  if (m.flag != engine::IC_TYPE || m.ic_sym_name.empty()) return std::nullopt;
  if (m.ic_sym_name.size() > engine::max_name_length) {
    return refusal{"value", m.ic_sym_name, "ic_sym_name",
                   bytes_long(m.ic_sym_name.size(), engine::max_name_length)};
  }
  if (name_exists(m.ic_sym_name, pg, dir)) {
    return refusal{"value", m.ic_sym_name, "ic_sym_name", "another cell has this name in name_db",
                   refusal::taken_in::name_db};
  }
  return std::nullopt;
}

std::optional<refusal> check_vantle_message(engine::ext_message& m, const keyword_tree* groups,
                                            formdecode::page& pg, const platform::site_dir& dir) {
  const message_rules* rules = nullptr;
  for (const message_rules& r : vantle_messages) {
    if (r.msg_type == m.msg_type_name) rules = &r;
  }
  if (!rules || !m.content) return std::nullopt;

  form_values v = split_content(*m.content);
  if (rules->exact && v.values.size() != rules->count) {
    std::vector<std::string> names;
    for (size_t i = 0; i < rules->count; ++i) names.emplace_back(rules->rules[i].field);
    return refusal{"value", given_values(v.values), "content",
                   m.msg_type_name + " needs " + std::to_string(rules->count) + " values (" +
                       given_values(names) + "), and it has " + std::to_string(v.values.size())};
  }
  for (size_t i = 0; i < rules->count && i < v.values.size(); ++i) {
    if (std::optional<refusal> r = check_value(v.values[i], rules->rules[i], groups, pg, dir)) return r;
  }
  m.content = join_content(v);
  return std::nullopt;
}

std::optional<refusal> check_system_message(const engine::ext_message& m) {
  if (m.msg_type_name != "MSG_UPDATE_CONFIG") return std::nullopt;
  // The form's own content, without the db_access element: a setting
  // sent without "|" would otherwise take that element as its value.
  form_values v = split_content(m.content.value_or(""));
  std::string given = given_values(v.values);
  if (v.values.size() < 2 || v.values[0].empty() || v.values[1].empty()) {
    return refusal{"value", given, "content",
                   "a setting is changed with its key, \"|\" and a value"};
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> mend_keyword_list(std::string_view list, std::string* why) {
  std::string_view body = trim(list);
  size_t bang = body.find('!');
  if (bang != std::string_view::npos && bang + 1 != body.size()) {
    if (why) *why = "\"!\" may only end a keyword list";
    return std::nullopt;
  }
  if (bang != std::string_view::npos) body.remove_suffix(1);
  std::string mended;
  std::string_view rest = body;
  for (;;) {
    size_t sep = rest.find_first_of("#,");
    if (sep == std::string_view::npos) break;
    mended += trim(rest.substr(0, sep));
    mended += rest[sep];
    rest.remove_prefix(sep + 1);
  }
  // A last word without its separator ("physics") gets one.
  std::string_view last = trim(rest);
  if (!last.empty()) {
    mended += last;
    mended += '#';
  }
  return mended + "!";
}

std::string mend_comment(std::string_view comment) {
  size_t nl = comment.rfind('\n');
  std::string_view last = nl == std::string_view::npos ? comment : comment.substr(nl + 1);
  std::string mended(comment);
  if (last.find("#!") == std::string_view::npos) mended += "#!";
  return mended;
}

form_values split_content(std::string_view content) {
  form_values v;
  std::vector<std::string> parts;
  for (;;) {
    size_t bar = content.find('|');
    parts.emplace_back(content.substr(0, bar));
    if (bar == std::string_view::npos) break;
    content.remove_prefix(bar + 1);
  }
  v.db_access = parts.back();
  parts.pop_back();
  v.values = std::move(parts);
  return v;
}

std::string join_content(const form_values& v) {
  std::string text;
  for (const std::string& s : v.values) text += s + "|";
  return text + v.db_access;
}

std::optional<form_refusal> refusal_of_form(engine::ext_message& m, const keyword_tree* groups,
                                            formdecode::page& pg, const platform::site_dir& dir) {
  if (m.flag == engine::ORV_MSG) return check_system_message(m);
  std::optional<refusal> r = check_new_cell_name(m, pg, dir);
  if (!r && m.ic_type == vantle_type_name) r = check_vantle_message(m, groups, pg, dir);
  return r;
}

void write_refusal_line(formdecode::page& pg, const form_refusal& r) {
  pg.print("The %s \"%s\" of %s is refused: ", r.what, shown(r.text), r.field);
  pg.write(r.why);
  pg.write(".\n<p>");
}

void write_refusal(formdecode::page& pg, const form_refusal& r) {
  switch (r.taken) {
    case form_refusal::taken_in::name_db:
      pg.print("<p>The given symbolic name \"%s\" has already been used!!\n <p>", r.text);
      pg.write("The IC can't be created.\n<p>");
      break;
    case form_refusal::taken_in::vantle_db:
      pg.print("The given symbolic name \"%s\" has already been used!!\n <p>", r.text);
      break;
    case form_refusal::taken_in::none:
      break;
  }
  write_refusal_line(pg, r);
}

bool check_form(engine::ext_message& m, const keyword_tree* groups, formdecode::page& pg) {
  std::optional<refusal> r = refusal_of_form(m, groups, pg);
  if (!r) return true;
  write_refusal_line(pg, *r);
  return false;
}

}  // namespace site
