#include "engine/ic_manager.h"

namespace engine {

void handle_ext_message(engine_state& st, const ext_message&) {
  not_built(st.out, "handle_ext_message");
}

}  // namespace engine
