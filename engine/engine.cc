#include "engine/engine.h"

namespace engine {

void not_built(formdecode::output& out, std::string_view operation) {
  out.trace_line("%s: not available in this version of the program.\n", operation);
  throw formdecode::run_exit{1};
}

}  // namespace engine
