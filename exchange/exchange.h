// Inbox and outbox exchange: messages between sites travel as small text
// files. Outgoing files wait in `outbox` until the site's put script takes
// them; the get script leaves incoming files in `inbox`.
#pragma once

#include <optional>
#include <string>

#include "engine/ext_message.h"
#include "formdecode/page.h"

namespace exchange {

inline constexpr const char* inbox_dir = "inbox";
inline constexpr const char* outbox_dir = "outbox";
inline constexpr const char* get_script = "orv_ftp_get.cmd";
inline constexpr const char* put_script = "orv_ftp_put.cmd";

/// What the exchange remembers during one run.
struct exchange_state {
  std::string last_picked_up;  // name of the last incoming file of this run
  long long last_time = 0;     // second of the last outgoing file
  int sequence = 0;            // number of that file within its second
};

/// Takes the oldest incoming message file addressed to `orv_id` from
/// `inbox`, removes the file and returns its message; nothing when none is
/// left.
std::optional<engine::ext_message> pick_up_message(exchange_state& ex, const std::string& orv_id,
                                                   formdecode::output& out);

/// Carries out SYS_SEND_MSG: reports every file of `outbox` and, when there
/// is at least one, runs the put script, which delivers them. The program
/// never deletes outbox files itself.
void send_outgoing_messages(formdecode::output& out);

}  // namespace exchange
