#include "programs/cellkit/template_hooks.h"

#include "engine/params.h"

namespace cellkit {
namespace {

using formdecode::run_exit;

// --- the click actions ------------------------------------------------------

void single_click(engine::engine_state& st) { st.out.pg().write("Single click!"); }

void double_click(engine::engine_state& st) { st.out.pg().write("double click\n"); }

struct click_action {
  std::int32_t number;
  void (*run)(engine::engine_state& st);
};

constexpr click_action click_actions[] = {
    {0, single_click},
    {1, double_click},
};

}  // namespace

std::unique_ptr<engine::app_memory> template_hooks::new_internal_mm(const std::string&) {
  return nullptr;
}

void template_hooks::save_mm(engine::store_writer&, const engine::ic_record&) {}

void template_hooks::load_mm(engine::store_reader&, engine::ic_record&, engine::mm_reading) {}

engine::cell_registration template_hooks::register_cell(const std::string&, engine::ic_sys_name&) {
  return {engine::cell_registration::refused, 0};
}

std::optional<std::int32_t> template_hooks::find_named_cell(const std::string&) {
  return std::nullopt;
}

int template_hooks::do_predicate(engine::engine_state& st, std::int32_t number,
                                 const std::vector<engine::parameter>&, engine::fg_function&,
                                 engine::ic_record&) {
  st.out.pg().print("do_predicate: Unknown predicate number %d\n", number);
  throw run_exit{0};
}

int template_hooks::do_actions(engine::engine_state& st, std::int32_t number,
                               const std::vector<engine::parameter>&, engine::fg_function&,
                               engine::ic_record&) {
  for (const click_action& a : click_actions) {
    if (a.number != number) continue;
    a.run(st);
    return 0;
  }
  st.out.pg().print("do_actions: Unknown action number %d\n", number);
  throw run_exit{0};
}

std::string template_hooks::fill_itype(engine::engine_state& st, engine::message, std::int32_t,
                                       const std::string& ic_type) {
  if (ic_type == "NOT_SPEC") {
    formdecode::page& pg = st.out.pg();
    pg.write("\n**************************************************************\n<br>");
    pg.write("*** This is the template function of fill_itype()\n<br>");
    pg.write("*** If you didn't specify ic_type of output message in fg format,\n<br>");
    pg.write("*** you have to decide the ic_type in function fill_itype().\n<br>");
    pg.write("**************************************************************\n<p>");
  }
  return ic_type;
}

std::string template_hooks::fill_content(engine::engine_state& st, const engine::message&) {
  st.out.pg().write("*** This is the template function of fill_content().\n<br>");
  st.out.pg().write("*** Nothing is defined here.\n<p>");
  return {};
}

engine::id_set template_hooks::find_ic(engine::engine_state& st, engine::ic_record&,
                                       const engine::fg_function&,
                                       const std::vector<engine::msg_link>&,
                                       const engine::message&, const std::string&) {
  st.out.pg().write("This is the template function of find_ic()\n");
  st.out.pg().write("No IC is returned here.\n");
  return {};
}

engine::name_set template_hooks::find_orv(engine::engine_state&, engine::ic_record&,
                                          const engine::fg_function&,
                                          const std::vector<engine::msg_link>&,
                                          const engine::message&, const std::string&) {
  return {};
}

void template_hooks::fill_receiver(engine::engine_state&, engine::ext_message&, const std::string&,
                                   std::int32_t) {}

void template_hooks::write_outgoing_message(engine::engine_state&, const engine::ext_message&,
                                            const std::string&) {}

std::string template_hooks::userdef_v(engine::engine_state& st, const std::string& name,
                                      const engine::ic_record&, std::int32_t) {
  st.out.pg().print("userdef_v(): variable %s not defined\n", name);
  return "VAR_NOT_DEFINED!!";
}

std::int32_t fill_mflag(formdecode::page& pg) {
  pg.write("\n**********************************************************\n<br>");
  pg.write("*** This is the template function of fill_mflag()\n<br>");
  pg.write("*** Just return IC_TYPE in the template function.\n<br>");
  pg.write("**********************************************************\n<p>");
  return engine::IC_TYPE;
}

int pred_match(formdecode::page& pg) {
  pg.write("This is the template function of pred_match()\n"
           " for old version of predicate definition.\n");
  pg.write("Nothing is defined here\n");
  pg.write("Just return TRUE in the template function.\n");
  return 1;
}

void dump_internal_mm(formdecode::page& pg) {
  pg.write("*** This is the template function of dump_internal_mm().\n<br>");
  pg.write("*** Nothing is dumpped here.\n<p>");
}

}  // namespace cellkit
