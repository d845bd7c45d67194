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
#include "formdecode/page.h"
#include "site/vantle.h"
#include "site/world.h"

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
  void load_mm(engine::store_reader& r, engine::ic_record& cell) override;
  engine::cell_registration register_cell(const std::string& symbolic_name,
                                          engine::ic_sys_name& sys) override;
  std::optional<std::int32_t> find_named_cell(const std::string& symbolic_name) override;

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
  std::optional<world> world_;  // the site data of this request, once read
};

}  // namespace site
