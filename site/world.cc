// Reading the site data files of a request.
#include "site/world.h"

#include <optional>
#include <string>

#include "platform/platform.h"

namespace site {
namespace {

[[noreturn]] void refuse(formdecode::output& out, const char* file, const std::string& why) {
  out.both("The data file %s is damaged: %s\n", file, why);
  throw formdecode::run_exit{1};
}

}  // namespace

site_table read_site_table(formdecode::output& out) {
  std::optional<std::string> text = platform::read_file(site_table_file);
  if (!text) {
    out.both("Cannot find file %s\n", site_table_file);
    throw formdecode::run_exit{1};
  }
  std::string err;
  std::optional<site_table> table = site_table::parse(*text, &err);
  if (!table) refuse(out, site_table_file, err);
  return std::move(*table);
}

knowledge_base read_knowledge_base(formdecode::output& out) {
  std::optional<std::string> text = platform::read_file(knowledge_base_file);
  if (!text) {
    out.both("Cannot open data file %s\n", knowledge_base_file);
    throw formdecode::run_exit{1};
  }
  std::string err;
  std::optional<knowledge_base> kb = parse_knowledge_base(*text, &err);
  if (!kb) refuse(out, knowledge_base_file, err);
  return std::move(*kb);
}

world read_world(formdecode::output& out) {
  site_table sites = read_site_table(out);
  return world{std::move(sites), read_knowledge_base(out)};
}

}  // namespace site
