#include "formdecode/field_store.h"

#include <cctype>

namespace formdecode {
namespace {

std::string fold(std::string_view name) {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

std::optional<std::string> field_store::get(std::string_view name) const {
  auto it = fields_.find(fold(name));
  if (it == fields_.end()) return std::nullopt;
  return it->second;
}

void field_store::set(std::string_view name, std::string_view value) {
  if (value.empty()) {
    fields_.erase(fold(name));
  } else {
    fields_[fold(name)] = std::string(value);
  }
}

}  // namespace formdecode
