#include "site/orv_hooks.h"

#include <string>
#include <vector>

#include "engine/dump.h"
#include "engine/params.h"
#include "exchange/exchange.h"

#include "site/groups.h"
#include "site/keywords.h"
#include "site/naming.h"
#include "site/site_table.h"

namespace site {
namespace {

constexpr engine::message_type_name message_types[] = {
    {"MSG_CREATE", 1},
    {"MSG_MOVE_KEEP", 2},
    {"MSG_RETRIEVE", 3},
    {"MSG_LOCAL_REPLY", 4},
    {"MSG_REMOTE_REPLY", 5},
    {"MSG_REPLY_TO_USER", 6},
    {"MSG_VANTLE_CREATED", 7},
    {"MSG_SHOW_VANTLE_RESULT", 8},
    {"MSG_MOVE_DELETE", 52},
    {"MSG_MOVE_DELETE_TO_CREATE", 53},
    {"MSG_DELETE", 100},
    {"MSG_SHOW_ALL", 200},
    {"MSG_UPDATE_CONFIG", 300},
    {"MSG_SHOW_CONFIG", 301},
};

vantle_record* vantle_of(const engine::ic_record& cell) {
  return dynamic_cast<vantle_record*>(cell.mm.get());
}

}  // namespace

const engine::message_table orv_message_types{message_types};

std::unique_ptr<engine::app_memory> orv_hooks::new_internal_mm(const std::string& ic_type) {
  if (ic_type == vantle_type_name) return new_vantle_record();
  out_.pg().print("Unknown ic type: %s\n", ic_type);
  return nullptr;
}

// A cell without a vantle record has an empty application block.
void orv_hooks::save_mm(engine::store_writer& w, const engine::ic_record& cell) {
  if (const vantle_record* v = vantle_of(cell)) save_vantle(w, *v, out_.pg());
}

void orv_hooks::load_mm(engine::store_reader& r, engine::ic_record& cell,
                        engine::mm_reading why) {
  vantle_record* v = vantle_of(cell);
  if (!v) return;
  // A vantle enters its virtual group when the load reads it; a vantle the
  // run reaches later is in its group already.
  if (why == engine::mm_reading::reach) {
    load_vantle(r, *v, {});
    return;
  }
  // Two captures keep the callback in std::function's own storage, with
  // no allocation for each vantle of a load.
  auto described = [this, &cell] {
    vantle_record& loaded = *vantle_of(cell);
    if (loaded.i_am == empty_list) return;
    out_.pg().write("Calling VG updating funciton...<br>\n");
    enter_virtual_group(cell, loaded);
  };
  if (why == engine::mm_reading::load_head) {
    pass_vantle(r, *v, described);
  } else {
    load_vantle(r, *v, described);
  }
}

void orv_hooks::enter_virtual_group(engine::ic_record&, vantle_record& v) {
  if (world_) enter_group(world_->kb.groups, v, out_, refused_);
}

void orv_hooks::cells_loaded() {
  if (world_) report_refused(world_->kb.groups, refused_, out_);
}

world& orv_hooks::set_world(world w) {
  world_ = std::move(w);
  return *world_;
}

engine::cell_registration orv_hooks::register_cell(const std::string& symbolic_name,
                                                   engine::ic_sys_name& sys) {
  name_record rec{0, symbolic_name, sys};
  if (journal_) journal_->before_naming_change();
  switch (register_name(rec, site_orv_id_, out_.pg(), &highest_id_, dir_)) {
    case REGISTERED:
      sys = rec.sys_name;
      if (answer_) answer_->created({rec.ic_id, sys.ic_type, symbolic_name});
      return {engine::cell_registration::registered, rec.ic_id};
    case NAME_TAKEN:
    case NAME_REFUSED:
      return {engine::cell_registration::refused, 0};
    case DB_UNWRITABLE:
      break;
  }
  return {engine::cell_registration::failed, 0};
}

std::optional<std::int32_t> orv_hooks::find_named_cell(const std::string& symbolic_name) {
  name_record rec;
  rec.symbolic_name = symbolic_name;
  if (!look_up(rec, out_.pg(), dir_)) return std::nullopt;
  return rec.sys_name.ic_id;
}

// --- transition firing -----------------------------------------------------

namespace {

// Message types that the hooks tell apart.
constexpr std::int32_t MSG_MOVE_KEEP = 2;
constexpr std::int32_t MSG_RETRIEVE = 3;
constexpr std::int32_t MSG_REMOTE_REPLY = 5;
constexpr std::int32_t MSG_MOVE_DELETE = 52;

// The vantle categories that collect nothing.
constexpr const char* archives = "Archives";
constexpr const char* site_building = "Site_Building";

// Everything one action or predicate reads: its parameters, resolved in
// the cell, the cell's vantle record and the site.
struct call {
  engine::engine_state& st;
  const std::vector<engine::parameter>& params;
  engine::ic_record& cell;
  vantle_record* v;             // null only for the calls that need none
  formdecode::output& out;
  const site_config& cfg;
  const std::string& orv_id;    // this site
  world* site_data;             // null when the request read none
  run_journal* journal;         // null when the run keeps no journal
  answer* ans;                  // null when the run keeps no answer in values
  const std::optional<std::string>& sender;  // the site that sent the message, when known

  std::string text(int n) const { return engine::par_text(st, n, params, cell); }
  std::int32_t integer(int n) const { return engine::par_int(st, n, params, cell); }
  formdecode::page& pg() const { return out.pg(); }
  // The cell, as an answer names it.
  cell_ref ref() const { return {cell.id, cell.ic_type, v ? v->symbolic_name : ""}; }
  void changed() const {
    if (ans) ans->changed(ref());
  }
};

// Parameters 1 to 7 (the description) and 8 (`vantle_type`) into `v`.
void fill_description(const call& c, vantle_record& v) {
  v.doc_id = c.text(1);
  v.i_am = c.text(2);
  v.i_love = c.text(3);
  v.i_hate = c.text(4);
  v.i_behave = c.text(5);
  v.i_keyword = c.text(6);
  v.i_comment = c.text(7);
  v.vantle_type = c.text(8);
}

// --- predicates ---

int counter_check(const call& c) {
  const vantle_record& v = *c.v;
  std::int32_t mode = c.integer(1);
  std::string list = c.text(2);
  std::int32_t count = 0;
  if (list == info_gathering) {
    count = v.collected_vantles;
  } else if (list == profile) {
    count = v.collected_doc_ids;
  } else {
    // "Archives", "Site_Building" and any other name collect nothing.
    return 0;
  }
  c.pg().print("counter_check(): counter = %d\n<p>", count);
  long long next = static_cast<long long>(count) + 1;
  switch (mode) {
    case 1: return next < v.max_vantle_threshold;
    case 2: return next == v.max_vantle_threshold;
    case 3: return next > v.max_vantle_threshold;
    default: return 0;  // no other mode is defined
  }
}

int par_equal(const call& c) { return c.text(1) == c.text(2); }

int doc_check(const call& c) {
  bool same = c.v->doc_id == c.text(1);
  switch (c.integer(2)) {
    case 1: return same;
    case 2: return !same;
    default: return 0;  // no other mode is defined
  }
}

struct predicate_entry {
  std::int32_t number;
  int (*fn)(const call&);
  bool needs_vantle;  // reads the vantle record
};

constexpr predicate_entry predicates[] = {
    {0, counter_check, true},
    {1, par_equal, false},
    {2, doc_check, true},
};

// --- actions ---

void create_vantle(const call& c) {
  vantle_record& v = *c.v;
  fill_description(c, v);
  v.ic_id = c.cell.id;
  v.orv_id = c.orv_id;
  v.copy_mark = 's';
  v.max_vantle_threshold = c.cfg.max_vantle_threshold;
  if (!c.cfg.email.empty() && c.cfg.email != "NULL") v.owner_email = c.cfg.email;
  c.pg().print("<p> Create a new Vantle %d for Doc \"%s\" ...<p>\n", v.ic_id, v.doc_id);

  std::string name = c.text(9);
  if (name.size() > 49) {
    // The record holds at most 49 characters: a longer name is refused,
    // not cut, so it never names another vantle by its first 49.
    c.pg().print("The given symbolic name \"%s\" is longer than 49 characters.\n <p>", name);
  } else if (vantle_name_taken(name, c.pg(), c.st.dir)) {
    c.pg().print("The given symbolic name \"%s\" has already been used!!\n <p>", name);
  } else {
    if (c.journal) c.journal->before_naming_change();
    if (!vantle_db_append(name, v.doc_id, c.st.dir)) {
      c.pg().write("Error occurs when writing a new record into the naming Database.\n<p>");
    } else {
      c.pg().print("Vantle %d has the symbolic name \"%s\".\n<p>", v.ic_id, name);
      v.symbolic_name = name;
      if (c.ans) c.ans->named(c.cell.id, name);
    }
  }

  if (v.i_am == empty_list) return;
  c.pg().write("Calling VG updating funciton...<br>\n");
  c.out.tr().write("Calling VG updating funciton...\n");
  if (!c.site_data) return;  // no group tree in this request
  std::optional<int> node = enter_group(c.site_data->kb.groups, v, c.out);
  if (node) report_group(c.site_data->kb.groups, *node, c.st.cells.active, c.pg());
}

void delete_vantle(const call& c) {
  if (c.site_data) remove_from_group(c.site_data->kb.groups, *c.v, c.out);
  if (c.ans) c.ans->deleted(c.ref());
  c.pg().print("<p>Vantle %d has been deleted. <p>\n", c.cell.id);
}

void report_move(const call& c) { c.pg().print("Vantle %s has been moved.\n", c.text(1)); }

void find_itself(const call& c) {
  vantle_record& v = *c.v;
  std::string doc_id = c.text(1);
  c.pg().print("doc_id = %s\n", doc_id);
  c.pg().print("atmp->doc_id = %s\n", v.doc_id);
  if (doc_id == v.doc_id) {
    v.value_1 = 1;
    c.pg().print("Vantle %d for doc %s find itself. <p>\n", c.cell.id, v.doc_id);
  } else {
    v.value_1 = 0;
  }
}

void show_vantle(const call& c) {
  const vantle_record& v = *c.v;
  if (c.ans) {
    if (!c.ans->vantles) c.ans->vantles.emplace();
    c.ans->vantles->push_back({v.ic_id, v.symbolic_name, v.doc_id, v.vantle_type,
                               c.cell.current_state, v.orv_id, v.copy_mark, v.i_am, v.i_love,
                               v.i_hate, v.i_behave, v.i_keyword, v.i_comment, v.owner_email});
  }
  engine::dump_cell(c.st, c.cell);
  formdecode::page& pg = c.pg();
  pg.print("<p>Vantle symbolic name = %s <br>\n", v.symbolic_name);
  pg.print("Vantle ic_id = %d <br>\n", v.ic_id);
  pg.print("Vantle orv_id = %s <br>\n", v.orv_id);
  pg.print("Vantle copy_mark = %c <br>\n", v.copy_mark);
  pg.print("Vantle type = %s <br>\n", v.vantle_type);
  pg.print("doc_id = %s <br>\n", v.doc_id);
  pg.print("i_am = %s <br>\n", v.i_am);
  pg.print("i_love = %s <br>\n", v.i_love);
  pg.print("i_hate = %s <br>\n", v.i_hate);
  pg.print("i_behave = %s <br>\n", v.i_behave);
  pg.print("i_keyword = %s <br>\n", v.i_keyword);
  pg.print("i_comment = %s <br>\n", v.i_comment);
  pg.print("owner_email = %s <br>\n", v.owner_email);
  pg.write("******************************************\n<p>");
}

void match_query(const call& c) {
  vantle_record& v = *c.v;
  v.value_1 = 0;
  std::string query = c.text(3);
  if (query == empty_list || v.i_am == empty_list) return;
  if (!c.site_data) {
    c.pg().write("match_query(): no keyword knowledge base in this request.\n");
    return;
  }
  v.value_1 = keyword_match(c.site_data->kb.keywords, v.i_am, query, c.cfg.retrieve_threshold);
  if (v.value_1 != 1) return;
  c.pg().print("query = %s <br>\n", query);
  c.pg().print("Vantle %d matches this query <br>\n", c.cell.id);
  c.pg().print("with i_am = %s <br>\n", v.i_am);
  c.pg().write("******************************************<p>\n");
}

void save_result(const call& c) {
  vantle_record& v = *c.v;
  if (v.vantle_type == info_gathering) {
    info_entry e;
    e.doc_id = c.text(1);
    e.i_am = c.text(2);
    e.i_love = c.text(3);
    e.i_hate = c.text(4);
    e.i_behave = c.text(5);
    e.i_keyword = c.text(6);
    e.i_comment = c.text(7);
    e.vantle_type = c.text(8);
    // A copy collects the answers of its own site; a source vantle those
    // the picked-up message brings from the site that sent it.
    add_info_entry(v, std::move(e), v.copy_mark == 'c' ? std::optional(c.orv_id) : c.sender);
    c.pg().print("Doc %s Has been saved into info_list. Total = %d. <br>\n",
                 v.info_link.front().doc_id, v.collected_vantles);
  } else if (v.vantle_type == profile) {
    add_profile_entry(v, c.text(1));
    c.pg().print("Doc %s Has been saved into profile_list. Total = %d.<br>\n",
                 v.profile_link.front().doc_id, v.collected_doc_ids);
  } else {
    return;
  }
  c.changed();
}

void fuse_results(const call& c) {
  vantle_record& v = *c.v;
  if (v.vantle_type == info_gathering) {
    v.fusion = fuse_info_gathering(v);
  } else if (v.vantle_type == profile) {
    v.fusion = fuse_profile(v);
  }
  c.changed();
}

void record_sender(const call& c) {
  c.v->sender_orv_id = c.text(1);
  c.v->sender_ic_id = c.integer(2);
}

void no_action(const call&) {}

void notify_results(const call& c) {
  if (c.text(1) == "local") {
    c.pg().print(
        "<p>*** Query results from the LOCAL site are available <br> \t          for your "
        "document with ID = %s<p>",
        c.v->doc_id);
  } else {
    c.pg().write("\n<p>*** Query results from the REMOTE sites are available <br>\n");
    c.pg().print("       for your document with ID = %s<p>\n", c.v->doc_id);
  }
}

// The saved results of the query vantle of `c` in values: each document
// once (the newest answer first), ranked by its distance to the query.
void note_results(const call& c) {
  const vantle_record& v = *c.v;
  query_view q;
  q.ic_id = c.cell.id;
  q.doc_id = v.doc_id;
  q.keywords = v.i_am;
  const world* w = c.site_data;
  if (w && v.vantle_type == info_gathering) {
    if (std::optional<int> home = w->sites.find(c.orv_id)) {
      q.sent_to = w->sites.near_sites(*home, c.cfg.vg_threshold);
    }
  }
  auto add = [&q](document_view d) {
    for (const document_view& e : q.documents) {
      if (e.doc_id == d.doc_id && e.site == d.site) return;
    }
    q.documents.push_back(std::move(d));
  };
  if (v.vantle_type == info_gathering) {
    for (const info_entry& e : v.info_link) {
      std::optional<std::string> site;
      if (e.orv_id != "N/A" && !e.orv_id.empty()) site = e.orv_id;
      for (std::string& id : document_ids(e.doc_id)) {
        add({std::move(id), site, e.i_am, e.i_love, e.i_hate, e.i_behave, e.i_keyword,
             e.i_comment, std::nullopt, 0});
      }
    }
  } else if (v.vantle_type == profile) {
    for (const profile_entry& e : v.profile_link) {
      for (std::string& id : document_ids(e.doc_id)) {
        add({std::move(id), std::nullopt, "!", "!", "!", "!", "!", "", std::nullopt, 0});
      }
    }
  }
  rank_documents(q.documents, v.i_am, w ? &w->kb.keywords : nullptr);
  c.ans->shown_results(std::move(q));
}

void show_saved_results(const call& c) {
  const vantle_record& v = *c.v;
  if (c.ans) note_results(c);
  formdecode::page& pg = c.pg();
  pg.print("<p>*** Saved Query Results for document with id = %s:<br><br>\n", v.doc_id);
  if (v.vantle_type == info_gathering) {
    for (const info_entry& e : v.info_link) {
      pg.print("Doc id: %s<br>\n", e.doc_id);
      pg.print("I am: %s<br>\n", e.i_am);
      pg.print("I love: %s<br>\n", e.i_love);
      pg.print("I hate: %s<br>\n", e.i_hate);
      pg.print("I behave: %s<br>\n", e.i_behave);
      pg.print("I keyword: %s<br>\n", e.i_keyword);
      pg.print("I comment: %s<br>\n", e.i_comment);
      pg.write("----------------------------------<br>\n");
    }
  } else if (v.vantle_type == profile) {
    for (const profile_entry& e : v.profile_link) {
      pg.print("Doc id: %s<br>\n", e.doc_id);
      pg.write("----------------------------------<br>\n");
    }
  } else if (v.vantle_type != archives && v.vantle_type != site_building) {
    pg.print("Unknown vantle_type: %s.<p>\n", v.vantle_type);
  }
}

void copy_vantle(const call& c) {
  vantle_record& v = *c.v;
  fill_description(c, v);
  v.orv_id = c.text(9);
  v.ic_id = c.integer(10);
  v.copy_mark = 'c';
  v.max_vantle_threshold = c.cfg.max_vantle_threshold;
  c.changed();
}

struct action_entry {
  std::int32_t number;
  void (*fn)(const call&);
  bool needs_vantle;  // reads or changes the vantle record
};

constexpr action_entry actions[] = {
    {0, create_vantle, true},   {1, delete_vantle, true},       {2, report_move, false},
    {3, find_itself, true},     {4, show_vantle, true},         {5, match_query, true},
    {6, save_result, true},     {7, fuse_results, true},        {8, record_sender, true},
    {9, no_action, false},      {10, save_result, true},        {11, notify_results, true},
    {12, show_saved_results, true}, {13, copy_vantle, true},
};

template <class Entry, size_t N>
const Entry* entry_of(const Entry (&table)[N], std::int32_t number) {
  for (const Entry& e : table) {
    if (e.number == number) return &e;
  }
  return nullptr;
}

}  // namespace

int orv_hooks::do_predicate(engine::engine_state& st, std::int32_t number,
                            const std::vector<engine::parameter>& params, engine::fg_function&,
                            engine::ic_record& cell) {
  const predicate_entry* p = entry_of(predicates, number);
  if (!p) {
    out_.pg().print("do_predicate: Unknown predicate number %d\n", number);
    throw formdecode::run_exit{0};
  }
  vantle_record* v = vantle_of(cell);
  if (p->needs_vantle && !v) {
    out_.pg().print("do_predicate: cell %d has no vantle record; predicate %d does not hold.\n",
                    cell.id, number);
    return 0;
  }
  return p->fn(
      call{st, params, cell, v, out_, cfg_, site_orv_id_, site_world(), journal_, answer_,
           ex_.processing_sender});
}

int orv_hooks::do_actions(engine::engine_state& st, std::int32_t number,
                          const std::vector<engine::parameter>& params, engine::fg_function&,
                          engine::ic_record& cell) {
  const action_entry* a = entry_of(actions, number);
  if (!a) {
    out_.pg().print("do_actions: Unknown action number %d\n", number);
    throw formdecode::run_exit{0};
  }
  vantle_record* v = vantle_of(cell);
  if (a->needs_vantle && !v) {
    out_.pg().print("do_actions: cell %d has no vantle record; action %d changes nothing.\n",
                    cell.id, number);
    return 0;
  }
  a->fn(call{st, params, cell, v, out_, cfg_, site_orv_id_, site_world(), journal_, answer_,
           ex_.processing_sender});
  return 0;
}

std::string orv_hooks::fill_itype(engine::engine_state&, engine::message, std::int32_t,
                                  const std::string& ic_type) {
  if (ic_type == "NOT_SPEC") {
    formdecode::page& pg = out_.pg();
    pg.write("\n**************************************************************\n");
    pg.write("*** This is the template function of fill_itype()\n");
    pg.write("*** If you didn't specify ic_type of output message in fg format,\n");
    pg.write("*** you have to decide the ic_type in function fill_itype().\n");
    pg.write("**************************************************************\n");
  }
  // "NOT_SPEC" stays: the lookups take it as matching every IC type.
  return ic_type;
}

engine::id_set orv_hooks::find_ic(engine::engine_state&, engine::ic_record& cell,
                                  const engine::fg_function&,
                                  const std::vector<engine::msg_link>& inputs,
                                  const engine::message& out_spec, const std::string&) {
  engine::id_set result;
  std::int32_t in_type = inputs.empty() ? 0 : inputs.front().msg_type;
  bool known = in_type == MSG_RETRIEVE || in_type == MSG_MOVE_DELETE ||
               out_spec.msg_type == MSG_REMOTE_REPLY;
  if (!known) {
    out_.pg().write("find_ic(): Do not match any case.\n");
    return result;
  }
  const vantle_record* v = vantle_of(cell);
  if (!v) {
    out_.pg().print("find_ic(): cell %d has no vantle record; no cell is found.\n", cell.id);
    return result;
  }
  if (in_type == MSG_RETRIEVE) {
    if (v->value_1 == 1) result.ids.push_back(v->sender_ic_id);
  } else if (in_type == MSG_MOVE_DELETE) {
    if (v->value_1 == 1) result.ids.push_back(cell.id);
  } else {
    result.ids.push_back(v->sender_ic_id);
  }
  return result;
}

engine::name_set orv_hooks::find_orv(engine::engine_state&, engine::ic_record& cell,
                                     const engine::fg_function&,
                                     const std::vector<engine::msg_link>&,
                                     const engine::message& out_spec, const std::string&) {
  engine::name_set result;
  if (out_spec.msg_type == MSG_REMOTE_REPLY) {
    const vantle_record* v = vantle_of(cell);
    if (!v) {
      out_.pg().print("find_orv(): cell %d has no vantle record; no site is found.\n", cell.id);
      return result;
    }
    result.names.push_back(v->sender_orv_id);
  } else if (out_spec.msg_type == MSG_MOVE_KEEP) {
    if (!world_) {
      out_.pg().write("find_orv(): no query-site table in this request; no site is found.\n");
      return result;
    }
    for (const std::string& site : query_sites(world_->sites, site_orv_id_, cfg_.vg_threshold, out_)) {
      result.names.insert(result.names.begin(), site);  // at the front: reverse table order
    }
  } else {
    out_.pg().write("find_orv(): Do not match any case.\n");
    out_.pg().write("No ORV is returned here.\n");
  }
  return result;
}

void orv_hooks::fill_receiver(engine::engine_state&, engine::ext_message& m,
                              const std::string& orv_id, std::int32_t ic_id) {
  m.receiver.server_id = "*** (no server id)";
  if (m.msg_type == MSG_MOVE_KEEP) {
    // The receiving site makes a copy of the sender.
    m.receiver.orv_id = m.sender.orv_id;
    m.receiver.ic_type = m.sender.ic_type;
    m.receiver.ic_id = m.sender.ic_id;
    m.receiver.flag = 'c';
  } else {
    m.receiver.orv_id = orv_id;
    m.receiver.ic_type = m.ic_type;
    m.receiver.ic_id = ic_id;
    m.receiver.flag = 's';
  }
}

// --- cross-site messages and parameter values ---

void orv_hooks::write_outgoing_message(engine::engine_state&, const engine::ext_message& m,
                                       const std::string& orv_id) {
  exchange::write_outgoing_message(ex_, m, orv_id, out_);
}

std::string orv_hooks::userdef_v(engine::engine_state&, const std::string& name,
                                 const engine::ic_record& cell, std::int32_t context) {
  const vantle_record* v = vantle_of(cell);
  if ((context == 2 || context == 3) && name == "Z1") return site_orv_id_;
  if ((context == 2 || context == 3) && name == "Z2") return std::to_string(cell.id);
  // The description of the vantle itself, or of the fusion of its results.
  const info_entry* fused = v && v->fusion ? &*v->fusion : nullptr;
  if (v && (context == 1 || context == 4 || (context == 5 && fused)) && name.size() == 2 &&
      name[0] == 'Y' && name[1] >= '1' && name[1] <= '8') {
    if (context == 5) {
      const std::string* fields[] = {&fused->doc_id,   &fused->i_am,      &fused->i_love,
                                     &fused->i_hate,   &fused->i_behave,  &fused->i_keyword,
                                     &fused->i_comment, &fused->vantle_type};
      return *fields[name[1] - '1'];
    }
    const std::string* fields[] = {&v->doc_id,   &v->i_am,      &v->i_love,    &v->i_hate,
                                   &v->i_behave, &v->i_keyword, &v->i_comment, &v->vantle_type};
    return *fields[name[1] - '1'];
  }
  out_.pg().print("userdef_v(): variable %s not defined\n", name);
  return "VAR_NOT_DEFINED!!";
}

}  // namespace site
