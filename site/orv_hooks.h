// The hooks of the virtual-site application: what `orv` plugs into the
// engine. Vantle cells carry a vantle record; new cells are registered in
// the naming database.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "engine/hooks.h"
#include "exchange/exchange.h"
#include "formdecode/page.h"
#include "site/answer.h"
#include "site/config.h"
#include "site/groups.h"
#include "site/run_journal.h"
#include "site/vantle.h"
#include "site/world.h"

#include "platform/site_dir.h"

namespace site {

/// The message types of `orv`, in the order their names are compared.
extern const engine::message_table orv_message_types;

/// The application hooks of `orv`.
class orv_hooks : public engine::app_hooks {
 public:
  /// `site_orv_id` tells this site's cells from copies of other sites' cells.
  orv_hooks(formdecode::output& out, std::string site_orv_id)
      : out_(out), site_orv_id_(std::move(site_orv_id)) {}

  std::unique_ptr<engine::app_memory> new_internal_mm(const std::string& ic_type) override;
  void save_mm(engine::store_writer& w, const engine::ic_record& cell) override;
  void load_mm(engine::store_reader& r, engine::ic_record& cell, engine::mm_reading why) override;
  /// Reports the full virtual groups that refused restored vantles, once
  /// per group.
  void cells_loaded() override;
  engine::cell_registration register_cell(const std::string& symbolic_name,
                                          engine::ic_sys_name& sys) override;
  std::optional<std::int32_t> find_named_cell(const std::string& symbolic_name) override;

  // Transition firing. Predicates 0 to 2 and actions 0 to 13 work on the
  // vantle record of the cell; any other number ends the run (status 0).
  // A vantle action or predicate on a cell without a vantle record writes
  // one line and changes nothing (a predicate is then false).
  int do_predicate(engine::engine_state& st, std::int32_t number,
                   const std::vector<engine::parameter>& params, engine::fg_function& f,
                   engine::ic_record& cell) override;
  int do_actions(engine::engine_state& st, std::int32_t number,
                 const std::vector<engine::parameter>& params, engine::fg_function& f,
                 engine::ic_record& cell) override;
  std::string fill_itype(engine::engine_state& st, engine::message m, std::int32_t sender_id,
                         const std::string& ic_type) override;
  engine::id_set find_ic(engine::engine_state& st, engine::ic_record& cell,
                         const engine::fg_function& f, const std::vector<engine::msg_link>& inputs,
                         const engine::message& out_spec, const std::string& ic_type) override;
  engine::name_set find_orv(engine::engine_state& st, engine::ic_record& cell,
                            const engine::fg_function& f,
                            const std::vector<engine::msg_link>& inputs,
                            const engine::message& out_spec, const std::string& ic_type) override;
  void fill_receiver(engine::engine_state& st, engine::ext_message& m, const std::string& orv_id,
                     std::int32_t ic_id) override;

  /// Keeps the settings of this site that the actions read: the thresholds
  /// and the e-mail address. Until it is called the defaults hold.
  void set_config(const site_config& cfg) { cfg_ = cfg; }
  /// The site's directory, where the naming files are.
  void set_dir(const platform::site_dir& dir) { dir_ = dir; }

  /// The journal of the run, told before each naming change; none (the
  /// default) for runs that do not save what they change.
  void set_journal(run_journal* j) { journal_ = j; }

  /// Where the run notes what it does in values; none (the default) for
  /// runs that need only the page.
  void set_answer(answer* a) { answer_ = a; }

  /// The exchange state of the run, shared by the outgoing files that
  /// firings write and the pick-up of incoming ones.
  exchange::exchange_state& exchange() { return ex_; }

  /// Writes the message as an outgoing message file for `orv_id`.
  void write_outgoing_message(engine::engine_state& st, const engine::ext_message& m,
                              const std::string& orv_id) override;

  /// Variables of the vantle record: "Z1" (this site) and "Z2" (the cell's
  /// id) while a MSG_MOVE_KEEP or MSG_RETRIEVE content is built, "Y1" to
  /// "Y8" (the description) for MSG_CREATE and MSG_LOCAL_REPLY, and the
  /// same from the fusion record for MSG_REMOTE_REPLY.
  std::string userdef_v(engine::engine_state& st, const std::string& name,
                        const engine::ic_record& cell, std::int32_t context) override;
  // Functions and database accesses: the engine's standard set (G0, H0; no
  // database access).

  /// Keeps the site data of this request (read before the cells are
  /// loaded) and returns it; restored vantles then join the groups of its
  /// group tree.
  world& set_world(world w);

  /// The site data of this request, or null when the request read none
  /// (the system messages that only restore or back up the cells).
  world* site_world() { return world_ ? &*world_ : nullptr; }

 protected:
  /// Enters a restored vantle into its virtual group. Without site data
  /// there is no group tree to rebuild, and the vantle is skipped.
  virtual void enter_virtual_group(engine::ic_record& cell, vantle_record& v);

 private:
  formdecode::output& out_;
  std::string site_orv_id_;
  exchange::exchange_state ex_;  // the exchange of the run: outgoing files, pick-up
  std::optional<world> world_;  // the site data of this request, once read
  refused_vantles refused_;     // restored vantles that full groups refused
  site_config cfg_;             // thresholds and e-mail address of this site
  platform::site_dir dir_;
  run_journal* journal_ = nullptr;  // told before name records are appended
  answer* answer_ = nullptr;        // the answer in values, when the run keeps one
  std::optional<std::int32_t> highest_id_;  // highest ic id in use, once looked for
};

}  // namespace site
