#include "platform/site_dir.h"

#include <utility>

namespace platform {

site_dir::site_dir(std::string path) : path_(std::move(path)) {
  while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
  if (path_ == ".") path_.clear();
}

std::string site_dir::at(std::string_view name) const {
  if (path_.empty() || (!name.empty() && name.front() == '/')) return std::string(name);
  if (name.empty() || name == ".") return path_;
  return path_ + "/" + std::string(name);
}

void site_dir::as_inside(std::string* err) const {
  if (!err || path_.empty()) return;
  const std::string front = path_ + "/";
  if (err->starts_with(front)) err->erase(0, front.size());
}

}  // namespace platform
