// Field store: the decoded form fields of a request.
//
// Each field is stored under "WWW_" followed by its name. The store keeps the
// two properties every reader relies on: names are compared without regard
// to letter case, and an empty value is an absent field (storing one removes
// the name).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace formdecode {

class field_store {
 public:
  /// The value stored under `name`, or nothing; never an empty text.
  std::optional<std::string> get(std::string_view name) const;

  /// Stores `value` under `name`; an empty value removes the name.
  void set(std::string_view name, std::string_view value);

  /// A further value of a repeated field: a present field becomes `value`,
  /// "#" and its old value; an absent one is set as `set` does. The cost
  /// is that of `value` alone, however long the joined value grows.
  void repeat(std::string_view name, std::string_view value);

  /// Number of names stored.
  size_t size() const { return fields_.size(); }

 private:
  // Upper-cased name -> the values the field was given, oldest first; the
  // field's value is them joined with "#", newest first.
  std::map<std::string, std::vector<std::string>> fields_;
};

}  // namespace formdecode
