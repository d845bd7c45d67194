// The driver of `orv`: page header, form, working directory, trace, site
// settings, the external message, and then either the IC manager over the
// stored cells or one of the system messages the manager handles itself.
#include "programs/orv/driver.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/cell_store.h"
#include "engine/engine.h"
#include "engine/ext_message.h"
#include "engine/fg_reader.h"
#include "engine/ic_manager.h"
#include "exchange/exchange.h"
#include "platform/platform.h"
#include "site/config.h"
#include "site/form_check.h"
#include "site/orv_hooks.h"
#include "site/run_journal.h"
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

// Why the picked-up message `m` cannot be processed here, or nothing when
// it can: a message that names no message type of this site, or an IC type
// that no fg functions file of this site defines, would end the run.
std::optional<std::string> unprocessable(const engine::engine_state& st,
                                         const engine::ext_message& m) {
  if (m.kind == engine::KIND_TYPE_NAME) {
    bool known = false;
    for (const engine::message_type_name& t : st.msg_types) {
      known = known || t.name == m.msg_type_name;
    }
    if (!known) return "unknown message type " + m.msg_type_name;
  }
  if (m.flag != engine::IC_TYPE && m.flag != engine::IC_ID && m.flag != engine::IC_ID_TYPE) {
    return std::nullopt;  // reported by the IC manager; no cell is reached
  }
  if (m.ic_type.size() > engine::max_name_length) return "the ic type is too long";
  if (m.ic_type.find_first_of("/\\") != std::string::npos) {
    return "the ic type " + m.ic_type + " holds a path";
  }
  // "NOT_SPEC" stands for every IC type.
  if (m.ic_type != "NOT_SPEC" && !platform::exists(engine::fg_file_name(m.ic_type))) {
    return "no fg functions file " + engine::fg_file_name(m.ic_type) + " for its ic type";
  }
  return std::nullopt;
}

// SYS_PICK_UP_MSG: fetch incoming files, process each against the one
// population loaded at the start, save once after the last. A message that
// cannot be processed is moved aside with the content file it took, and
// the batch goes on. Should the processing of a message end the run all
// the same, its changes cannot be told from the others': they are all
// undone, that message's files are moved aside and the batch starts again
// without it. Each incoming file is taken out of `inbox` before its message
// is processed (a file that cannot be taken out is left there unprocessed
// and the run ends with status 1) and removed only once the store that
// holds its effect is saved (see run_journal).
void pick_up_messages(formdecode::output& out, const site::site_config& cfg,
                      engine::store_reading reading) {
  for (bool fetched = false;; fetched = true) {
    site::orv_hooks hooks(out, cfg.orv_id);
    hooks.set_config(cfg);
    site::run_journal journal(out);
    hooks.set_journal(&journal);
    engine::engine_state st(out, engine::site_identity{cfg.server_id, cfg.orv_id},
                            site::orv_message_types, hooks);
    st.reading = reading;
    exchange::exchange_state& ex = hooks.exchange();  // shared with the outgoing files of the run
    ex.stage_outgoing = true;
    load_world(st, hooks);
    if (!fetched) platform::run_site_script(exchange::get_script);
    // The files of the message being processed: its message file and the
    // content file it took, if any.
    std::vector<std::string> current;
    try {
      for (;;) {
        size_t first = ex.taken.size();
        std::optional<engine::ext_message> m = exchange::pick_up_message(ex, st.site.orv_id, out);
        if (!m) break;
        std::vector<std::string> files(ex.taken.begin() + static_cast<std::ptrdiff_t>(first),
                                       ex.taken.end());
        if (std::optional<std::string> why = unprocessable(st, *m)) {
          ex.taken.resize(first);  // set aside now, never removed by the save
          exchange::reject_message(files, *why, out);
          continue;
        }
        current = std::move(files);
        engine::handle_ext_message(st, *m);
        current.clear();
      }
    } catch (const formdecode::run_exit&) {
      if (current.empty()) throw;
      journal.roll_back(ex);
      exchange::reject_message(current, "its processing ended the run", out);
      out.both("The pick-up starts again without it.\n<p>");
      continue;
    }
    journal.save(st, ex);
    if (ex.refused > 0) {
      // Left in `inbox`: the next pick-up cannot take them either until the
      // operator lets the programs remove files there.
      out.both("Error: %d incoming files could not be taken out of inbox and are not "
               "processed.\n<p>",
               ex.refused);
      throw formdecode::run_exit{1};
    }
    return;
  }
}

// A message with flag ORV_MSG, dispatched by its type name.
void system_message(engine::engine_state& st, site::site_config& cfg,
                    const engine::ext_message& m) {
  formdecode::output& out = st.out;
  const std::string& name = m.msg_type_name;
  if (name == "SYS_PICK_UP_MSG") {
    site::check_run_files(out, site::READS_CELLS | site::SAVES_CELLS | site::PICKS_UP);
    pick_up_messages(out, cfg, st.reading);
  } else if (name == "SYS_SEND_MSG") {
    exchange::send_outgoing_messages(out);
  } else if (name == "SYS_RESTORE") {
    site::check_run_files(out, site::READS_CELLS);
    engine::load_all_cells(st);
    out.pg().write("All Vantles are restored.<p>\n");
  } else if (name == "SYS_BACKUP") {
    site::check_run_files(out, site::READS_CELLS | site::SAVES_CELLS);
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

void run(const formdecode::request& rq, formdecode::output& out, engine::store_reading reading) {
  formdecode::print_header(out.pg());
  formdecode::field_store fields;
  formdecode::decode_form(rq, fields, out.pg());

  // Every file of the site lives in `html`; a run that cannot work there
  // would write them where it was started, which the web server serves.
  std::string err;
  if (!platform::change_directory("html", &err)) {
    out.pg().print("Error: can't enter the directory %s; nothing is changed.\n<p>", err);
    throw formdecode::run_exit{1};
  }
  if (!platform::writable_directory(".", &err)) {
    out.pg().print("Error: can't write in the directory html (%s); nothing is changed.\n<p>",
                   err);
    throw formdecode::run_exit{1};
  }
  // One request at a time per site: held until the run has written its
  // last file, so two requests never interleave their reads and writes.
  platform::run_lock lock(lock_file);
  if (!lock.held()) {
    out.pg().print("Error: can't lock %s; nothing is changed.\n<p>", lock_file);
    throw formdecode::run_exit{1};
  }

  platform::make_directory(exchange::inbox_dir);
  platform::make_directory(exchange::outbox_dir);

  // The trace is gathered in memory and written whole before the lock is
  // released, on every way the run ends.
  formdecode::trace_guard trace_written(out.tr());
  if (!out.tr().open("dump_file", true)) {
    out.pg().write("Can't open the trace file dump_file.<p>\n");
  }
  // What a killed run left half done is completed or undone first.
  site::run_journal::recover(out);

  site::site_config cfg = site::read_config(out);
  site::orv_hooks hooks(out, cfg.orv_id);
  hooks.set_config(cfg);
  engine::engine_state st(out, engine::site_identity{cfg.server_id, cfg.orv_id},
                          site::orv_message_types, hooks);
  st.reading = reading;
  engine::ext_message m =
      engine::build_ext_message(fields, st.site, platform::process_id(), out.pg());

  if (m.flag != engine::ORV_MSG) {
    site::check_run_files(out, site::READS_CELLS | site::SAVES_CELLS);
    site::run_journal journal(out);
    hooks.set_journal(&journal);
    hooks.exchange().stage_outgoing = true;
    load_world(st, hooks);
    // The form's values are checked, and mended, before the engine sees
    // them: a refused form changes nothing.
    if (!site::check_form(m, &hooks.site_world()->kb.groups, out.pg())) {
      throw formdecode::run_exit{0};
    }
    engine::handle_ext_message(st, m);
    journal.save(st, hooks.exchange());
  } else {
    if (!site::check_form(m, nullptr, out.pg())) throw formdecode::run_exit{0};
    system_message(st, cfg, m);
  }
}

}  // namespace orv
