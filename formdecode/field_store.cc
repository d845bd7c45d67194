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
  const std::vector<std::string>& parts = it->second;
  size_t size = parts.size() - 1;
  for (const std::string& p : parts) size += p.size();
  std::string value;
  value.reserve(size);
  for (auto p = parts.rbegin(); p != parts.rend(); ++p) {
    if (p != parts.rbegin()) value += '#';
    value += *p;
  }
  return value;
}

void field_store::set(std::string_view name, std::string_view value) {
  if (value.empty()) {
    fields_.erase(fold(name));
  } else {
    fields_[fold(name)] = {std::string(value)};
  }
}

void field_store::repeat(std::string_view name, std::string_view value) {
  auto it = fields_.find(fold(name));
  if (it == fields_.end()) {
    set(name, value);
  } else {
    it->second.emplace_back(value);
  }
}

}  // namespace formdecode
