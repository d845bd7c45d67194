// Carrying out a request of the site manager.
#include "site/request.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/cell_store.h"
#include "engine/ext_message.h"
#include "engine/fg_reader.h"
#include "engine/ic_manager.h"
#include "exchange/exchange.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "site/config.h"
#include "site/form.h"
#include "site/form_check.h"
#include "site/orv_hooks.h"
#include "site/restore_swap.h"
#include "site/run_journal.h"
#include "site/world.h"

namespace site {
namespace {

// What the form asks for, as it stands (before it is checked).
request_view request_of(const formdecode::field_store& fields) {
  request_view r;
  r.message_type = fields.get("WWW_message_type").value_or("");
  r.flag = fields.get("WWW_flag").value_or("");
  r.ic_type = fields.get("WWW_ic_type").value_or("");
  r.ic_ids = id_list(fields.get("WWW_ic_id_list").value_or(""));
  r.kind = request_kind(r.message_type, r.ic_ids);
  return r;
}

// What begins the page's line of an error.
constexpr std::string_view error_marker = "Error: ";

// The file name `path` without its directory.
std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The query-site table, when `site.config` reads; nothing is written.
std::optional<site_table> quiet_site_table(const platform::site_dir& dir) {
  std::string err;
  std::optional<std::string> text = platform::read_site_file(dir.at(site_table_file), &err);
  if (!text) return std::nullopt;
  return site_table::parse(*text, &err);
}

// Checks the form's values: a refusal is written (the taken-name texts
// first) and noted in the answer, and the run then ends.
void accept_form(engine::ext_message& m, const keyword_tree* groups, formdecode::output& out,
                 answer& a, const platform::site_dir& dir) {
  std::optional<form_refusal> r = refusal_of_form(m, groups, out.pg(), dir);
  if (!r) return;
  write_refusal(out.pg(), *r);
  a.refusals.push_back({label_of(r->field), r->field, r->text, r->why});
  throw formdecode::run_exit{0};
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
  if (m.ic_type != "NOT_SPEC" && !platform::exists(st.dir.at(engine::fg_file_name(m.ic_type)))) {
    return "no fg functions file " + engine::fg_file_name(m.ic_type) + " for its ic type";
  }
  return std::nullopt;
}

// The files of one pass of a pick-up in values: each entry of `ex.incoming`
// with what its reading and its processing said (`said`, by inbox path).
void note_pass(answer& a, const exchange::exchange_state& ex,
               std::map<std::string, picked_file>& said) {
  for (const exchange::incoming_file& f : ex.incoming) {
    picked_file p = said.count(f.path) ? said[f.path] : picked_file{};
    p.file = base_name(f.path);
    p.sender = f.sender;
    p.applied = !f.refused;
    p.why = f.why;
    if (!p.applied) p.cells = {};
    // The line that set it aside, when its reading or processing did not
    // note it already.
    auto noted = [&](const std::vector<std::string>& lines) {
      return std::find(lines.begin(), lines.end(), f.said) != lines.end();
    };
    if (!f.said.empty() && !noted(p.load_warnings) && !noted(p.message_errors)) {
      p.load_warnings.push_back(f.said);
    }
    // The refusal as a log tells it: the line that set the file aside (the
    // last its processing, else its reading, said), without its error marker.
    if (!p.applied) {
      const std::vector<std::string>& lines =
          p.message_errors.empty() ? p.load_warnings : p.message_errors;
      if (!lines.empty()) p.refusal = lines.back();
      if (p.refusal.starts_with(error_marker)) p.refusal.erase(0, error_marker.size());
    }
    a.picked->push_back(std::move(p));
  }
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
void pick_up_messages(formdecode::output& out, const site_config& cfg,
                      engine::store_reading reading, const platform::script_place& scripts,
                      const platform::site_dir& dir, answer& a) {
  a.picked.emplace();
  // What an undone pass noted is forgotten, but for the files it set aside.
  const cell_changes cells_before = a.cells;
  const std::optional<std::vector<query_view>> results_before = a.results;
  for (bool fetched = false;; fetched = true) {
    a.cells = cells_before;
    a.results = results_before;
    orv_hooks hooks(out, cfg.orv_id);
    hooks.set_config(cfg);
    hooks.set_answer(&a);
    hooks.set_dir(dir);
    run_journal journal(out, dir);
    hooks.set_journal(&journal);
    engine::engine_state st(out, engine::site_identity{cfg.server_id, cfg.orv_id},
                            orv_message_types, hooks);
    st.reading = reading;
    st.dir = dir;
    exchange::exchange_state& ex = hooks.exchange();  // shared with the outgoing files of the run
    ex.dir = dir;
    ex.stage_outgoing = true;
    hooks.set_world(read_world(out, dir));
    engine::load_all_cells(st);
    if (!fetched) platform::run_site_script(exchange::get_script, scripts);
    std::map<std::string, picked_file> said;  // by inbox path
    // The files of the message being processed: its message file and the
    // content file it took, if any.
    std::vector<std::string> current;
    size_t processing = 0;  // where the page stood when the current message began
    try {
      for (;;) {
        size_t first = ex.taken.size();
        size_t before = a.page_at();
        std::optional<engine::ext_message> m = exchange::pick_up_message(ex, st.site.orv_id, out);
        if (!m) break;
        // What was said before the first file taken is about the site's
        // files and its cells, the same on every pick-up until mended.
        if (!a.pick_up_warnings) a.pick_up_warnings = a.errors_before(a.page_at());
        picked_file& file = said[ex.incoming.back().path];
        file.load_warnings = a.errors_since(before);
        processing = a.page_at();
        std::vector<std::string> files(ex.taken.begin() + static_cast<std::ptrdiff_t>(first),
                                       ex.taken.end());
        if (std::optional<std::string> why = unprocessable(st, *m)) {
          ex.taken.resize(first);  // set aside now, never removed by the save
          exchange::note_refused(ex, files, *why);
          exchange::reject_message(files, *why, out, nullptr, ex.dir);
          file.message_errors = a.errors_since(processing);
          continue;
        }
        current = std::move(files);
        a.file_cells = &file.cells;
        ex.processing_sender = ex.incoming.back().sender;
        engine::handle_ext_message(st, *m);
        ex.processing_sender.reset();
        a.file_cells = nullptr;
        file.message_errors = a.errors_since(processing);
        current.clear();
      }
    } catch (const formdecode::run_exit&) {
      a.file_cells = nullptr;
      ex.processing_sender.reset();
      if (current.empty()) throw;
      journal.roll_back(ex);
      const std::string why = "its processing ended the run";
      // Only the files set aside stay noted: the others come again.
      exchange::note_refused(ex, current, why);
      std::erase_if(ex.incoming, [](const exchange::incoming_file& f) { return !f.refused; });
      exchange::reject_message(current, why, out, nullptr, ex.dir);
      said[current[0]].message_errors = a.errors_since(processing);
      note_pass(a, ex, said);
      out.both("The pick-up starts again without it.\n<p>");
      continue;
    }
    journal.save(st, ex);
    note_pass(a, ex, said);
    if (ex.refused > 0) {
      // Left in `inbox`: the next pick-up cannot take them either until the
      // operator lets the programs remove files there.
      out.both(
          "Error: %d incoming files could not be taken out of inbox and are not "
          "processed.\n<p>",
          ex.refused);
      throw formdecode::run_exit{1};
    }
    return;
  }
}

// SYS_SEND_MSG: the files handed to the put script, each with the site the
// table names as its receiver (the longest name that begins the file name).
void send_messages(formdecode::output& out, const platform::script_place& scripts,
                   const platform::site_dir& dir, answer& a) {
  std::optional<site_table> table = quiet_site_table(dir);
  a.sent.emplace();
  for (const std::string& name : exchange::send_outgoing_messages(out, scripts, dir)) {
    sent_file f{name, std::nullopt};
    for (int i = 0; table && i < table->count(); ++i) {
      const std::string& site = table->name(i);
      bool longer = !f.to || site.size() > f.to->size();
      if (longer && exchange::is_for_site(name, site) &&
          name.find_first_not_of("0123456789", site.size()) == std::string::npos) {
        f.to = site;
      }
    }
    a.sent->push_back(std::move(f));
  }
}

// MSG_SHOW_CONFIG in values: the settings, and this site's distance to each
// site of the table when the table reads and names this site.
void note_settings(const site_config& cfg, const platform::site_dir& dir, answer& a) {
  a.settings = cfg;
  std::optional<site_table> table = quiet_site_table(dir);
  if (!table) return;
  std::optional<int> self = table->find(cfg.orv_id);
  if (!self) return;
  a.sites.emplace();
  for (int j = 0; j < table->count(); ++j) {
    a.sites->push_back({table->name(j), table->distance(*self, j)});
  }
}

// A message with flag ORV_MSG, dispatched by its type name.
void system_message(engine::engine_state& st, site_config& cfg, const engine::ext_message& m,
                    const platform::script_place& scripts, answer& a) {
  formdecode::output& out = st.out;
  const std::string& name = m.msg_type_name;
  if (name == "SYS_PICK_UP_MSG") {
    check_run_files(out, READS_CELLS | SAVES_CELLS | PICKS_UP, st.dir);
    pick_up_messages(out, cfg, st.reading, scripts, st.dir, a);
  } else if (name == "SYS_SEND_MSG") {
    send_messages(out, scripts, st.dir, a);
  } else if (name == "SYS_RESTORE") {
    check_run_files(out, READS_CELLS, st.dir);
    engine::load_all_cells(st);
    out.pg().write("All Vantles are restored.<p>\n");
  } else if (name == "SYS_BACKUP") {
    check_run_files(out, READS_CELLS | SAVES_CELLS, st.dir);
    engine::load_all_cells(st);
    engine::save_all_cells(st);
    out.pg().write("All Vantles are backuped. <p>\n");
  } else if (name == "MSG_UPDATE_CONFIG") {
    std::string content = m.content.value_or("");
    std::string why;
    if (!update_config(cfg, content, out, &why, st.dir)) {
      a.refusals.push_back({label_of("content"), "content", content, why});
    }
  } else if (name == "MSG_SHOW_CONFIG") {
    show_config(cfg, out.pg());
    note_settings(cfg, st.dir, a);
  } else {
    out.pg().print("Unknown message type: %s <p>\n", name);
  }
}

}  // namespace

void run_request(const formdecode::request& rq, formdecode::output& out, answer& a,
                 engine::store_reading reading) {
  run_request(rq, out, a, run_context{}, reading);
}

void run_request(const formdecode::request& rq, formdecode::output& out, answer& a,
                 const run_context& ctx, engine::store_reading reading) {
  formdecode::print_header(out.pg());
  formdecode::field_store fields;
  formdecode::decode_form(rq, fields, out.pg());
  a.request = request_of(fields);

  // Every file of the site lives in its directory, and the run reaches each
  // through it: the working directory stays what it was. A run that could
  // not work there would write its files where it was started, which the
  // web server serves.
  const platform::site_dir dir(ctx.root);
  std::string err;
  if (!platform::can_enter(ctx.root, &err)) {
    out.pg().print("Error: can't enter the directory %s; nothing is changed.\n<p>", err);
    throw formdecode::run_exit{1};
  }
  if (!platform::writable_directory(dir.at("."), &err)) {
    // Named as the run's own directory, as the site names it.
    if (err.starts_with(dir.at(".") + ":")) err = "." + err.substr(dir.at(".").size());
    out.pg().print("Error: can't write in the directory html (%s); nothing is changed.\n<p>", err);
    throw formdecode::run_exit{1};
  }
  // One request at a time per site: held until the run has written its
  // last file, so two requests never interleave their reads and writes.
  platform::run_lock lock(dir.at(lock_file));
  if (!lock.held()) {
    out.pg().print("Error: can't lock %s; nothing is changed.\n<p>", lock_file);
    throw formdecode::run_exit{1};
  }

  // What a killed restore left is carried through before anything is made
  // or read here: the site is then wholly the restored one, never part old,
  // part new.
  std::optional<std::string> restored;
  const std::string site_root = dir.at("..");
  if (restore_left_over(site_root)) {
    std::string why;
    restored = finish_restore(site_root, &why);
    if (!why.empty()) {
      out.pg().print("Error: a restore of this site was cut short and cannot be finished (%s); "
                     "nothing is changed.\n<p>",
                     why);
      throw formdecode::run_exit{1};
    }
  }

  platform::make_directory(dir.at(exchange::inbox_dir));
  platform::make_directory(dir.at(exchange::outbox_dir));

  // The trace is gathered in memory and written whole before the lock is
  // released, on every way the run ends.
  formdecode::trace_guard trace_written(out.tr());
  if (!out.tr().open(dir.at("dump_file"), true)) {
    out.pg().write("Can't open the trace file dump_file.<p>\n");
  }
  if (restored) out.tr().print("%s.\n", *restored);
  // What a killed run left half done is completed or undone first.
  run_journal::recover(out, dir);

  site_config cfg = read_config(out, dir);
  a.orv_id = cfg.orv_id;
  a.server_id = cfg.server_id;
  orv_hooks hooks(out, cfg.orv_id);
  hooks.set_config(cfg);
  hooks.set_answer(&a);
  hooks.set_dir(dir);
  hooks.exchange().dir = dir;
  engine::engine_state st(out, engine::site_identity{cfg.server_id, cfg.orv_id}, orv_message_types,
                          hooks);
  st.reading = reading;
  st.dir = dir;
  form_fault fault;
  engine::ext_message m;
  try {
    m = build_ext_message(fields, st.site, platform::process_id(), out.pg(), {}, &fault);
  } catch (const formdecode::run_exit&) {
    a.refusals.push_back({label_of(fault.field), fault.field, fault.value, fault.why});
    throw;
  }

  if (m.flag == engine::ORV_MSG) {
    accept_form(m, nullptr, out, a, dir);
    system_message(st, cfg, m, platform::script_place{ctx.root, ctx.script_reports}, a);
    return;
  }
  // Everything a request needs before it touches cells: the query-site
  // table and the keyword knowledge base (group tree and keyword tree),
  // then all cells. The form's values are checked, and mended, in between:
  // a new vantle's words must be keywords of the hierarchy, and a refused
  // form costs no load of the cells and changes nothing. The hooks keep the
  // site data for the rest of the run; the restored vantles join the
  // groups of its group tree as they are loaded.
  world& site_data = hooks.set_world(read_world(out, dir));
  accept_form(m, &site_data.kb.groups, out, a, dir);
  check_run_files(out, READS_CELLS | SAVES_CELLS, dir);
  run_journal journal(out, dir);
  hooks.set_journal(&journal);
  hooks.exchange().stage_outgoing = true;
  engine::load_all_cells(st);
  engine::handle_ext_message(st, m);
  journal.save(st, hooks.exchange());
}

}  // namespace site
