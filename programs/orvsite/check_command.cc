// `orvsite check`: each file through the reader the programs use.
#include "programs/orvsite/check_command.h"

#include <sstream>
#include <string_view>
#include <variant>

#include "engine/cell_store.h"
#include "engine/engine.h"
#include "engine/fg_reader.h"
#include "exchange/exchange.h"
#include "formdecode/page.h"
#include "pages/zoa_lang.h"
#include "platform/platform.h"
#include "platform/site_dir.h"
#include "platform/site_file.h"
#include "programs/orvsite/site_audit.h"
#include "programs/orvsite/site_files.h"
#include "site/config.h"
#include "site/keywords.h"
#include "site/naming.h"
#include "site/naming_counters.h"
#include "site/orv_hooks.h"
#include "site/site_table.h"
#include "site/vantle.h"
#include "site/world.h"

namespace orvsite {
namespace {

class checker {
 public:
  explicit checker(const std::string& dir) : dir_(dir), site_(join(dir, html_dir)) {}

  std::vector<site_problem> run() {
    if (!platform::can_enter(site_.path(), nullptr)) {
      add(html_dir, "missing: this is not a site directory");
      return problems_;
    }
    check_config();
    check_site_table();
    check_knowledge_base();
    for (const std::string& f : files_ending_with(site_.path(), ".in")) check_fg_file(f);
    check_store();
    check_name_db();
    check_vantle_db();
    check_counter(site::ic_id_counter_file);
    check_counter(site::name_counter_file);
    for (const std::string& f :
         platform::list_files_oldest_first(site_.at(exchange::inbox_dir))) {
      check_message_file(join(exchange::inbox_dir, f));
    }
    for (const std::string& f : files_ending_with(site_.at("zoaml"), ".zoaml")) check_page(f);
    check_managers();
    // Folders a run moves site files into and out of, and where the backup
    // copies are: the site's own, never a link to a folder elsewhere.
    for (const char* d : {exchange::held_dir, exchange::staging_dir, engine::backup_dir}) {
      std::string why;
      if (!platform::site_directory_or_absent(site_.at(d), &why)) {
        add_html(d, why.substr(why.find(": ") + 2) + ": every request is refused; to mend: mv " +
                        join(join(dir_, html_dir), d) + " " + join(join(dir_, html_dir), d) +
                        ".aside");
      }
    }
    audit_consistency(dir_, orv_id_, ids_, &problems_);
    return problems_;
  }

  int files_read() const { return files_read_; }

 private:
  void add(const std::string& file, std::string what) {
    problems_.push_back({file, std::move(what)});
  }
  void add_html(const std::string& file, std::string what) {
    add(join(html_dir, file), std::move(what));
  }

  // The text of an html file, or nothing (noted when `required`).
  std::optional<std::string> read(const std::string& file, const char* when_missing) {
    if (!platform::exists(site_.at(file))) {
      if (when_missing) add_html(file, when_missing);
      return std::nullopt;
    }
    // Read as the programs read it: a plain file of the site, never
    // through a link, a FIFO or a device, and within bounds.
    std::string why;
    std::optional<std::string> text = platform::read_site_file(site_.at(file), &why);
    if (!text) {
      site_.as_inside(&why);
      std::string said = "cannot be read";
      if (!why.empty()) {
        // The reason without the file's name in front of it.
        const std::string_view reason = why.starts_with(file + ": ")
                                            ? std::string_view(why).substr(file.size() + 2)
                                            : std::string_view(why);
        said.append(" (").append(reason).append(")");
      }
      add_html(file, said);
    }
    if (text) ++files_read_;
    return text;
  }

  void check_config() {
    // The reader writes a default file when there is none: not here.
    std::optional<std::string> text =
        read(site::config_file, "missing: the first request writes one with the orv id "
                                "\"undefined\"");
    if (!text) return;
    std::variant<site::site_config, site::config_damage> cfg = site::parse_config(*text);
    if (const site::config_damage* d = std::get_if<site::config_damage>(&cfg)) {
      add_html(site::config_file, d->text());
      return;
    }
    orv_id_ = std::get<site::site_config>(cfg).orv_id;
    server_id_ = std::get<site::site_config>(cfg).server_id;
  }

  void check_site_table() {
    std::optional<std::string> text =
        read(site::site_table_file, "missing: every request for cells fails without it");
    if (!text) return;
    std::string err;
    int line = 0;
    std::optional<site::site_table> t = site::site_table::parse(*text, &err, &line);
    if (!t) {
      add_html(site::site_table_file, "line " + std::to_string(line) + ": " + err);
    } else if (!orv_id_.empty() && !t->find(orv_id_)) {
      add_html(site::site_table_file, "does not list this site's orv id " + orv_id_ +
                                          ": every request for cells fails");
    }
  }

  void check_knowledge_base() {
    std::optional<std::string> text =
        read(site::knowledge_base_file, "missing: every request for cells fails without it");
    if (!text) return;
    std::string err;
    if (!site::parse_knowledge_base(*text, &err)) add_html(site::knowledge_base_file, err);
  }

  void check_fg_file(const std::string& file) {
    std::optional<std::string> text = read(file, nullptr);
    if (!text) return;
    auto read = engine::parse_fg_functions(*text, file);
    if (const engine::fg_damage* d = std::get_if<engine::fg_damage>(&read)) add_html(file, d->text());
  }

  void check_store() {
    if (!read(engine::store_file, nullptr)) return;
    std::ostringstream page;
    formdecode::output out(page);
    site::orv_hooks hooks(out, orv_id_);
    engine::engine_state st(out, engine::site_identity{server_id_, orv_id_},
                            site::orv_message_types, hooks);
    st.dir = site_;
    if (std::optional<engine::store_damage> d = engine::load_cells(st)) {
      add_html(engine::store_file, d->text());
      return;
    }
    for (engine::cell_list* list : {&st.cells.active, &st.cells.sleeping}) {
      for (const engine::ic_record& cell : *list) {
        ids_.cells.push_back(cell.id);
        if (auto* v = dynamic_cast<const site::vantle_record*>(cell.mm.get())) {
          ids_.vantle_names.push_back(v->symbolic_name);
        }
      }
    }
    ids_.store_read = true;
  }

  void check_name_db() {
    std::optional<std::string> text = read(site::name_db_file, nullptr);
    if (!text) return;
    std::string err;
    if (site::read_name_records(
            *text,
            [this](const site::name_record& r) {
              ids_.named.push_back(r.ic_id);
              return false;
            },
            &err) != site::name_db_read::whole) {
      add_html(site::name_db_file, err);
    } else {
      ids_.name_db_read = true;
    }
  }

  void check_vantle_db() {
    std::optional<std::string> text = read(site::vantle_db_file, nullptr);
    if (!text) return;
    std::string err;
    if (!site::read_vantle_records(
            *text,
            [this](std::string_view name, std::string_view) {
              ids_.registered_vantles.emplace_back(name);
              return false;
            },
            &err)) {
      add_html(site::vantle_db_file, err);
    } else {
      ids_.vantle_db_read = true;
    }
  }

  void check_counter(const char* file) {
    std::optional<std::string> text = read(file, nullptr);
    if (!text || text->empty()) return;  // an empty counter starts afresh
    std::string err;
    site::counter_value(*text, &err);
    if (!err.empty()) add_html(file, err);
  }

  void check_message_file(const std::string& file) {
    std::optional<std::string> text = read(file, nullptr);
    if (!text) return;
    std::string err;
    if (!exchange::parse_message_file(*text, &err)) add_html(file, err);
  }

  void check_page(const std::string& file) {
    std::string path = join("zoaml", file);
    std::optional<std::string> text = read(path, nullptr);
    if (!text) return;
    std::string said;
    for (const pages::syntax_error& e : pages::syntax_errors(*text)) {
      if (!said.empty()) said += ' ';
      said += e.text();
    }
    if (!said.empty()) add_html(path, said);
  }

  // Every manager a page sends its forms to must be there.
  void check_managers() {
    for (const std::string& name : manager_names(site_.at("zoaml"))) {
      if (!platform::exists(join(dir_, name))) {
        add(name, "missing: the pages send their forms to it");
      }
    }
  }

  std::string dir_;
  platform::site_dir site_;  // the site's html, reached from here
  std::string orv_id_, server_id_;  // from config.txt, when it reads
  std::vector<site_problem> problems_;
  stored_ids ids_;  // what the files that read hold, for their agreement
  int files_read_ = 0;
};

}  // namespace

std::vector<site_problem> check_site(const std::string& dir, int* files_read,
                                     const platform::user_account* user) {
  std::vector<site_problem> problems;
  if (user) audit_access(dir, *user, &problems);
  checker c(dir);
  for (site_problem& p : c.run()) problems.push_back(std::move(p));
  if (files_read) *files_read = c.files_read();
  return problems;
}

std::optional<platform::user_account> site_user(const std::string& dir,
                                                const std::optional<std::string>& name,
                                                std::string* why) {
  std::string who = name.value_or("");
  if (!name) {
    std::optional<platform::entry_access> html = platform::access_of(join(dir, html_dir));
    if (!html) {
      *why = join(dir, html_dir) + " is missing: this is not a site directory";
      return std::nullopt;
    }
    who = std::to_string(html->owner);
  }
  std::optional<platform::user_account> user = platform::find_user(who);
  if (!user) *why = "there is no user " + who;
  return user;
}

int check_command(const std::string& dir, std::ostream& out, std::ostream& err,
                  const std::optional<std::string>& user_name) {
  std::string why;
  std::optional<platform::user_account> user = site_user(dir, user_name, &why);
  if (!user && user_name) {
    err << "orvsite check: " << why << "\n";
    return 2;
  }
  int files = 0;
  std::vector<site_problem> problems = check_site(dir, &files, user ? &*user : nullptr);
  for (const site_problem& p : problems) {
    out << (p.file.front() == '/' ? p.file : join(dir, p.file)) << ": " << p.what << "\n";
  }
  if (!problems.empty()) return 1;
  out << dir << ": in order (" << files << " files read)\n";
  return 0;
}

}  // namespace orvsite
