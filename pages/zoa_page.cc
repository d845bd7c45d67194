// The parser's actions and the shared error line.
#include "pages/zoa_lang.h"

namespace pages {

void write_error_line(formdecode::page& pg, const scan_state& st, std::string_view text) {
  pg.print("Syntax Error -- Line:%d, Column:%d -- %s\n", st.line, st.column, text);
}

void page_parse::begin_page() {
  std::string db = std::move(page.db_access);
  page = zoa_page{};
  page.db_access = std::move(db);
}

void page_parse::end_link() { page.links.insert(page.links.begin(), current_link); }

const std::string* page_parse::make_prompt(const std::string* text) {
  if (!text) return nullptr;
  return &st.strings.emplace_back("?" + *text);
}

void page_parse::error(std::string_view message) {
  // The parser's stack holds 300 states; running out of it is reported in
  // the words of the stack overflow it is.
  if (message == "memory exhausted") message = "yacc stack overflow";
  write_error_line(pg, st, message);
  if (errors) errors->push_back({st.line, st.column, std::string(message)});
}

std::string syntax_error::text() const {
  return formdecode::format("Syntax Error -- Line:%d, Column:%d -- %s", {line, column, message},
                            false);
}

void assign(std::optional<std::string>& field, const std::string* value) {
  if (value) {
    field = *value;
  } else {
    field.reset();
  }
}

}  // namespace pages
