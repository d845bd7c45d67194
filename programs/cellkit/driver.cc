// The driver of `cellkit`: page header, form, working directory, trace,
// the cells, one external message, the cells again.
#include "programs/cellkit/driver.h"

#include "engine/cell_store.h"
#include "engine/ic_manager.h"
#include "engine/model.h"
#include "platform/platform.h"
#include "programs/cellkit/template_hooks.h"

namespace cellkit {

site::form_rules form() {
  site::form_rules r;
  r.takes_sym_name = false;
  r.system_ic_type = "NULL";
  r.ic_type_too_long = "ic_type too long\n";
  return r;
}

void configure(engine::engine_state& st) {
  st.codec.layout = engine::store_layout::counter;
  st.rules.fill_zero_receiver = false;
  st.rules.warn_missing_cell = false;
  st.rules.on_missing = engine::missing_receiver::report_by_id;
  st.rules.sends_cross_site = false;
}

std::int32_t message_type_of(engine::engine_state& st, const engine::ext_message& m) {
  if (m.kind != engine::KIND_TYPE_NAME) return m.msg_type;
  if (m.msg_type_name == "SYS_RESTORE") return sys_restore_type;
  if (m.msg_type_name == "SYS_BACKUP") return sys_backup_type;
  return engine::encode_msg(st, m.msg_type_name);
}

void handle_request(engine::engine_state& st, const engine::ext_message& m) {
  const std::int32_t type = message_type_of(st, m);
  if (m.flag != engine::ORV_MSG) {
    engine::ext_message numbered = m;
    numbered.kind = engine::KIND_TYPE_NUMBER;  // the number is known now
    numbered.msg_type = type;
    engine::handle_ext_message(st, numbered);
    return;
  }
  if (type == sys_restore_type) {
    engine::load_all_cells(st);
    st.out.pg().write("All Vantles are restored.<p>\n");
  } else if (type == sys_backup_type) {
    engine::save_all_cells(st);
    st.out.pg().write("All Vantles are backuped. <p>\n");
  } else {
    st.out.pg().print("Unknown message type: %s <p>\n", m.msg_type_name);
  }
}

void run(const formdecode::request& rq, formdecode::output& out) {
  formdecode::print_header(out.pg());
  formdecode::field_store fields;
  formdecode::decode_form(rq, fields, out.pg());

  platform::change_directory("html");  // a failure leaves the run where it started
  // One request at a time: held until the run has written its last file,
  // so two requests never interleave their reads and writes of file.ic.
  platform::run_lock lock(lock_file);
  // The temporary file of a save that was killed is never renamed into place.
  platform::remove_leftover_parts(".");

  out.set_page_tails(false);  // traces show on the page as in dump_file
  // The trace is gathered in memory and written whole before the lock is
  // released, on every way the run ends.
  formdecode::trace_guard trace_written(out.tr());
  if (!out.tr().open("dump_file", true)) {
    out.pg().write("Can't open the trace file dump_file.<p>\n");
  }

  template_hooks hooks;
  engine::engine_state st(out, engine::site_identity{}, message_types, hooks);
  configure(st);
  engine::load_all_cells(st);

  engine::ext_message m =
      site::build_ext_message(fields, st.site, platform::process_id(), out.pg(), form());
  handle_request(st, m);
  engine::save_all_cells(st);
}

}  // namespace cellkit
