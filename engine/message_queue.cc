#include "engine/message_queue.h"

namespace engine {

void clear_queue(engine_state& st) { st.pending.clear(); }

void append_queue(engine_state& st, const message& m) { st.pending.push_back(m); }

bool queue_empty(const engine_state& st) { return st.pending.empty(); }

message take_queue(engine_state& st) {
  message m = std::move(st.pending.front());
  st.pending.pop_front();
  ++st.clock;
  return m;
}

}  // namespace engine
