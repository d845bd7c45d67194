// Reading and sending message files.
#include "exchange/exchange.h"

#include <vector>

#include "engine/engine.h"
#include "platform/platform.h"

namespace exchange {

std::optional<engine::ext_message> pick_up_message(exchange_state&, const std::string&,
                                                   formdecode::output& out) {
  engine::not_built(out, "pick up one incoming message");
}

void send_outgoing_messages(formdecode::output& out) {
  std::vector<std::string> files = platform::list_files_oldest_first(outbox_dir);
  for (const std::string& name : files) out.pg().print("Send the outgoing message: %s<br>\n", name);
  if (files.empty()) {
    out.pg().write("There is no outgoing message.\n");
    return;
  }
  platform::run_site_script(put_script);
}

}  // namespace exchange
