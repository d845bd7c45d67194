#include "engine/model.h"

namespace engine {

using formdecode::run_exit;

std::string decode_msg(const engine_state& st, std::int32_t number) {
  for (const message_type_name& t : st.msg_types) {
    if (t.number == number) return std::string(t.name);
  }
  st.out.pg().print("decode_msg: Unknown message type %d\n", number);
  throw run_exit{0};
}

std::int32_t encode_msg(const engine_state& st, const std::string& name) {
  for (const message_type_name& t : st.msg_types) {
    if (t.name == name) return t.number;
  }
  st.out.pg().print("encode_msg: Unknown message type %s\n", name);
  throw run_exit{0};
}

std::string state_name(std::int32_t state) {
  if (state == STATE_START) return "S0";
  if (state == STATE_SLEEP) return "SLEEP";
  if (state == STATE_DEAD) return "DEAD";
  return "STATE_" + std::to_string(state);
}

std::string sender_name(std::int32_t sender) {
  if (sender == SENDER_EXTERNAL) return "(EXTERNAL)";
  if (sender == SENDER_UNKNOWN) return "(UNKNOWN)";
  return "";
}

bool same_message(const message& a, const message& b) {
  if (a.msg_type != b.msg_type || a.sender != b.sender || a.mflag != b.mflag) return false;
  if (a.content && b.content && *a.content != *b.content) return false;
  if (!a.receivers.empty() && !b.receivers.empty() && a.receivers.front() != b.receivers.front()) {
    return false;
  }
  if (a.mflag == IC_TYPE && a.itype && b.itype && *a.itype != *b.itype) return false;
  return true;
}

std::int32_t next_receiver(engine_state& st, message& m) {
  if (!m.receivers.empty()) {
    std::int32_t id = m.receivers.front();
    m.receivers.erase(m.receivers.begin());
    if (id == 0) {
      st.out.pg().write("Wrong ic_id = 0 in the case of flag = IC_ID or IC_ID_TYPE.\n<p>");
    }
    return id;
  }
  if (m.orv_id == st.site.orv_id && !m.sym_names.empty()) {
    return st.hooks.find_named_cell(m.sym_names.front()).value_or(0);
  }
  return 0;
}

}  // namespace engine
