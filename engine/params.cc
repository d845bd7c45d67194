#include "engine/params.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "engine/fg_reader.h"

namespace engine {

std::int32_t leading_number(std::string_view text) {
  size_t p = 0;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t' || text[p] == '\n')) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  long long v = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    v = v * 10 + (text[p++] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) break;  // out of range: clamp below
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<std::int32_t>(v);
}

const std::string* find_binding(const ic_record& cell, std::string_view name) {
  for (const binding& b : cell.bindings) {
    if (b.name == name) return &b.value;
  }
  return nullptr;
}

std::vector<parameter> call_arguments(std::string_view name) {
  // "G0(" opens the list; "G0()" and a name without brackets have none.
  if (name.size() < 4 || name[2] != '(' || name[3] == ')') return {};
  std::string_view inner = name.substr(3);
  if (!inner.empty() && inner.back() == ')') inner.remove_suffix(1);
  // Commas at the top level separate the arguments; the commas of a nested
  // call stay with it, so a nested call keeps its own argument list.
  std::string list(inner);
  int depth = 0;
  for (char& c : list) {
    if (c == '(') ++depth;
    else if (c == ')') --depth;
    else if (c == ',' && depth == 0) c = '|';
  }
  return parse_parameter_list(list);
}

std::string resolve(engine_state& st, const parameter& p, const ic_record& cell,
                    std::int32_t context) {
  switch (p.flag) {
    case PAR_CONSTANT:
      return p.content.value_or("");
    case PAR_VARIABLE:
      if (const std::string* v = find_binding(cell, p.name)) return *v;
      return st.hooks.userdef_v(st, p.name, cell, context);
    case PAR_FUNCTION:
      return st.hooks.userdef_f(st, p.name.substr(0, 2), call_arguments(p.name), cell, context);
    case PAR_DATABASE:
      if (const std::string* v = find_binding(cell, p.name)) return *v;
      return st.hooks.userdef_db(st, p.name, cell, context);
    default:
      st.out.pg().write("resolve(): Unexpected parameter flag\n");
      return "";
  }
}

std::string build_content(engine_state& st, const std::vector<parameter>& params,
                          std::int32_t context, const fg_function&, const ic_record& cell) {
  std::string content;
  for (size_t i = 0; i < params.size(); ++i) {
    if (i > 0) content += '|';
    content += resolve(st, params[i], cell, context);
  }
  return content;
}

std::string par_text(engine_state& st, int n, const std::vector<parameter>& params,
                     const ic_record& cell) {
  if (n < 1 || static_cast<size_t>(n) > params.size()) return "";
  return resolve(st, params[static_cast<size_t>(n - 1)], cell, no_context);
}

std::int32_t par_int(engine_state& st, int n, const std::vector<parameter>& params,
                     const ic_record& cell) {
  return leading_number(par_text(st, n, params, cell));
}

double par_float(engine_state& st, int n, const std::vector<parameter>& params,
                 const ic_record& cell) {
  std::string text = par_text(st, n, params, cell);
  return std::strtod(text.c_str(), nullptr);
}

void bind_inputs(const std::vector<parameter>& params, const std::optional<std::string>& content,
                 ic_record& cell) {
  if (!content) return;
  std::string_view rest = *content;
  bool values_left = true;
  for (const parameter& p : params) {
    if (!values_left) break;
    size_t bar = rest.find('|');
    std::string_view value = rest.substr(0, bar);
    if (bar == std::string_view::npos) {
      values_left = false;  // the last value: the one before the appended bar
    } else {
      rest = rest.substr(bar + 1);
    }
    if (p.flag == PAR_VARIABLE || p.flag == PAR_DATABASE) {
      cell.bindings.insert(cell.bindings.begin(), binding{p.name, std::string(value)});
    }
  }
}

std::string app_hooks::userdef_f(engine_state& st, const std::string& name,
                                 const std::vector<parameter>& args, const ic_record& cell,
                                 std::int32_t) {
  if (name == "G0" || name == "H0") {
    // A call without arguments has no first argument: it counts as 0.
    std::int32_t first = par_int(st, 1, args, cell);
    long long value = static_cast<long long>(first) + (name == "G0" ? 1 : -1);
    return std::to_string(value);
  }
  st.out.pg().print("userdef_f(): function %s not defined\n", name);
  return "FUNC_NOT_DEFINED!!";
}

std::string app_hooks::userdef_db(engine_state& st, const std::string& name, const ic_record&,
                                  std::int32_t) {
  st.out.pg().print("userdef_db(): db_access %s not defined\n", name);
  return "DB_ACCESS_NOT_DEFINED!!";
}

}  // namespace engine
