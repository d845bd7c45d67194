#include "platform/error.h"

#include <cstring>

namespace platform {

std::string system_error(std::string_view subject, int e) {
  std::string text(subject);
  text += ": ";
  text += std::strerror(e);
  return text;
}

bool fail(std::string* err, std::string_view subject, int e) {
  if (err) *err = system_error(subject, e);
  return false;
}

}  // namespace platform
