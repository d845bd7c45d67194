// The driver of `orv`: page header, form, working directory, trace, site
// settings, the external message, and then either the IC manager over the
// stored cells or one of the system messages the manager handles itself.
#include "programs/orv/driver.h"

#include <optional>

#include "engine/cell_store.h"
#include "engine/engine.h"
#include "engine/ext_message.h"
#include "engine/ic_manager.h"
#include "exchange/exchange.h"
#include "platform/platform.h"
#include "site/config.h"
#include "site/orv_hooks.h"
#include "site/world.h"

namespace orv {
namespace {

// Everything a request needs before it touches cells: the query-site table,
// the keyword knowledge base (group tree and keyword tree) and all cells.
// The hooks keep the site data for the rest of the run; the restored
// vantles join the groups of its group tree as they are loaded.
void load_world(engine::engine_state& st, site::orv_hooks& hooks) {
  hooks.set_world(site::read_world(st.out));
  engine::load_all_cells(st);
}

// SYS_PICK_UP_MSG: fetch incoming files, process each against the one
// population loaded at the start, save once after the last.
void pick_up_messages(engine::engine_state& st, site::orv_hooks& hooks) {
  load_world(st, hooks);
  platform::run_site_script(exchange::get_script);
  exchange::exchange_state& ex = hooks.exchange();  // shared with the outgoing files of the run
  while (std::optional<engine::ext_message> m =
             exchange::pick_up_message(ex, st.site.orv_id, st.out)) {
    engine::handle_ext_message(st, *m);
  }
  engine::save_all_cells(st);
}

// A message with flag ORV_MSG, dispatched by its type name.
void system_message(engine::engine_state& st, site::orv_hooks& hooks, site::site_config& cfg,
                    const engine::ext_message& m) {
  formdecode::output& out = st.out;
  const std::string& name = m.msg_type_name;
  if (name == "SYS_PICK_UP_MSG") {
    pick_up_messages(st, hooks);
  } else if (name == "SYS_SEND_MSG") {
    exchange::send_outgoing_messages(out);
  } else if (name == "SYS_RESTORE") {
    engine::load_all_cells(st);
    out.pg().write("All Vantles are restored.<p>\n");
  } else if (name == "SYS_BACKUP") {
    engine::load_all_cells(st);
    engine::save_all_cells(st);
    out.pg().write("All Vantles are backuped. <p>\n");
  } else if (name == "MSG_UPDATE_CONFIG") {
    site::update_config(cfg, m.content.value_or(""), out);
  } else if (name == "MSG_SHOW_CONFIG") {
    site::show_config(cfg, out.pg());
  } else {
    out.pg().print("Unknown message type: %s <p>\n", name);
  }
}

}  // namespace

void run(const formdecode::request& rq, formdecode::output& out) {
  formdecode::print_header(out.pg());
  formdecode::field_store fields;
  formdecode::decode_form(rq, fields, out.pg());

  platform::change_directory("html");  // a failure leaves the run where it started
  // One request at a time per site: held until the run has written its
  // last file, so two requests never interleave their reads and writes.
  platform::run_lock lock(lock_file);

  platform::make_directory(exchange::inbox_dir);
  platform::make_directory(exchange::outbox_dir);

  // The trace is gathered in memory and written whole before the lock is
  // released, on every way the run ends.
  formdecode::trace_guard trace_written(out.tr());
  if (!out.tr().open("dump_file", true)) {
    out.pg().write("Can't open the trace file dump_file.<p>\n");
  }

  site::site_config cfg = site::read_config(out);
  site::orv_hooks hooks(out, cfg.orv_id);
  hooks.set_config(cfg);
  engine::engine_state st(out, engine::site_identity{cfg.server_id, cfg.orv_id},
                          site::orv_message_types, hooks);
  engine::ext_message m =
      engine::build_ext_message(fields, st.site, platform::process_id(), out.pg());

  if (m.flag != engine::ORV_MSG) {
    load_world(st, hooks);
    engine::handle_ext_message(st, m);
    engine::save_all_cells(st);
  } else {
    system_message(st, hooks, cfg, m);
  }
}

}  // namespace orv
