#include "engine/senders.h"

namespace engine {

int record_sender(ic_record& cell, const message& m) {
  if (m.msg_type == reply_msg_type) return -1;
  int slot = 0;
  for (int i = 0; i < buffer_slots; ++i) {
    if (cell.buffer[i].source == free_slot) {
      slot = i;
      break;
    }
  }
  cell.buffer[slot] = buffer_slot{m.msg_type, m.sender};
  return slot;
}

void set_same_ic(ic_record& cell, std::int32_t msg_type, std::int32_t ic_id) {
  if (msg_type == reply_msg_type) {
    cell.same_ic_reply = ic_id;
  } else if (msg_type >= 0 && msg_type < same_ic_slots) {
    cell.same_ic[static_cast<size_t>(msg_type)] = ic_id;
  }
}

}  // namespace engine
