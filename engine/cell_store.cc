#include "engine/cell_store.h"

#include <cstdint>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "engine/store_fingerprint.h"
#include "formdecode/page.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "text/text.h"

namespace engine {

using formdecode::run_exit;

std::string store_damage::text() const {
  if (!cannot_read.empty()) {
    return formdecode::format("Error: can't read %s; nothing is changed.", {cannot_read}, false);
  }
  return formdecode::format("The cell store %s is damaged at line %d: %s.", {store_file, line, what},
                            false);
}

void load_all_cells(engine_state& st) {
  std::optional<store_damage> d = load_cells(st);
  if (!d) return;
  if (!d->cannot_read.empty()) {
    // Only a missing store is an empty one: a store that exists but cannot
    // be read is never saved over.
    st.out.both("Error: can't read %s; nothing is changed.\n<p>", d->cannot_read);
    throw run_exit{1};
  }
  // The description names labels and fields only, never file data.
  st.out.pg().print_markup("The cell store %s is damaged at line %d: %s.<p>\n", store_file, d->line,
                           d->what);
  st.out.tr().print("The cell store %s is damaged at line %d: %s.<p>\n", store_file, d->line,
                    d->what);
  throw run_exit{1};
}

std::optional<store_damage> load_cells(engine_state& st) {
  st.cells.active.clear();
  std::string err;
  std::optional<std::string> data = platform::read_site_file(st.dir.at(store_file), &err);
  st.dir.as_inside(&err);
  if (!data && !err.empty()) return store_damage{err, 0, ""};
  if (!data) {
    st.out.tr().print("Can't open backup file %s. <br>\n", store_file);
    return std::nullopt;
  }
  // A store that is exactly what a save of this program wrote (its
  // fingerprint says so) need not be read in full to be trusted.
  std::optional<store_fingerprint> print;
  if (st.reading == store_reading::lazy) {
    // (A fingerprint that is no plain file of the site is no fingerprint.)
    std::string why;
    if (std::optional<std::string> f =
            platform::read_site_file(st.dir.at(fingerprint_file), &why, 4096)) {
      print = store_fingerprint::parse(*f);
      if (print && !print->matches(*data)) print.reset();
    }
  }
  try {
    st.cells.load(std::move(*data), st.reading, st.clock, print ? &print->read_in_full : nullptr);
  } catch (const store_error& e) {
    return store_damage{"", e.line, e.what};
  }
  st.hooks.cells_loaded();
  if (st.codec.layout == store_layout::counter) {
    // A new cell never takes the id of a cell that exists, whatever the
    // counter line says (or when it is missing).
    for (const cell_list* l : {&st.cells.active, &st.cells.sleeping}) {
      for (auto it = l->begin(); it != l->end(); ++it) {
        std::int32_t id = it.slot().id();
        if (id >= st.cells.next_cell_id && id < INT32_MAX) st.cells.next_cell_id = id + 1;
      }
    }
  }
  return std::nullopt;
}

void save_all_cells(
    engine_state& st,
    const std::function<void(const std::vector<std::string_view>&)>& before_write) {
  const platform::site_dir& dir = st.dir;
  std::string err;
  // Copies are filed only in the site's own folder, never through a link
  // to a folder elsewhere (anything else in its place fails to take the
  // copy below, as it always did).
  if (!platform::site_directory_or_absent(dir.at(backup_dir), &err) &&
      platform::is_directory(dir.at(backup_dir))) {
    dir.as_inside(&err);
    st.out.both("Can't file a backup copy of %s in %s: %s<p>\n", store_file, backup_dir, err);
    throw run_exit{1};
  }
  if (!platform::is_directory(dir.at(backup_dir))) platform::make_directory(dir.at(backup_dir));
  std::string head;
  if (st.codec.layout == store_layout::counter) {
    store_writer w;
    w.labelled(next_id_label, st.cells.next_cell_id);
    head = w.take();
  }
  std::string fresh;
  store_fingerprint print;
  const std::vector<std::string_view> text = st.cells.store_pieces(head, fresh, &print.read_in_full);
  if (before_write) before_write(text);
  // The backup copy and the new store are both written before either is
  // put in place, so the system writes the one to the disk while the
  // program writes the other. The copy is filed first: a save that cannot
  // file it changes nothing. It is a file of its own, so writing over
  // `file.ic` (a copy put back by hand) never changes a backup.
  const bool with_copy = st.codec.layout == store_layout::site;
  // The number is chosen before the copy is written beside its name (which
  // changes the folder the hint of the number speaks of).
  const backup_plan plan = with_copy ? plan_backup(store_file, dir) : backup_plan{};
  std::optional<platform::aside_file> copy =
      with_copy
          ? platform::aside_file::write(dir.at(backup_name(store_file, plan.number)), text, &err)
          : std::nullopt;
  dir.as_inside(&err);
  if (with_copy && !copy) {
    st.out.both("Can't file a backup copy of %s in %s: %s<p>\n", store_file, backup_dir, err);
    throw run_exit{1};
  }
  std::optional<platform::aside_file> store =
      platform::aside_file::write(dir.at(store_file), text, &err);
  dir.as_inside(&err);
  if (!store) {
    st.out.both("Can't write the cell store %s: %s<p>\n", store_file, err);
    throw run_exit{1};
  }
  std::string backup;
  if (copy) {
    std::optional<std::string> filed = file_backup_copy(store_file, plan, *copy, &err, dir);
    dir.as_inside(&err);
    if (!filed) {
      st.out.both("Can't file a backup copy of %s in %s: %s<p>\n", store_file, backup_dir, err);
      throw run_exit{1};
    }
    backup = *filed;
  }
  // The fingerprint is taken while the system writes the store.
  text_hash hash;
  for (std::string_view piece : text) hash.add(piece);
  print.bytes = hash.size();
  print.hash = hash.value();
  print.cells = st.cells.active.size();
  if (!store->sync(&err) || !store->rename_to(dir.at(store_file), &err)) {
    dir.as_inside(&err);
    if (!backup.empty()) platform::remove_file(dir.at(backup));  // a copy of a store never saved
    st.out.both("Can't write the cell store %s: %s<p>\n", store_file, err);
    throw run_exit{1};
  }
  // The store is saved. Its fingerprint goes beside it; one that is lost
  // or does not match only has the next load read the store in full, so a
  // fingerprint that cannot be written is noted in the trace and no more.
  if (!platform::replace_file(dir.at(fingerprint_file), print.text(), &err)) {
    dir.as_inside(&err);
    st.out.tr().print("Can't write %s: %s<br>\n", fingerprint_file, err);
  }
}

namespace {

// The backup number of `name` ("file.ic.b12" gives 12 for the prefix
// "file.ic.b"), or -1 when it is not a name of ours.
long long backup_number(const std::string& name, const std::string& prefix) {
  if (!name.starts_with(prefix)) return -1;
  std::string digits = name.substr(prefix.size());
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return -1;
  }
  long long n = *text::parse_number<long long>(digits, 0, 999999999);
  return std::to_string(n) == digits ? n : -1;
}

// The lowest free backup number from one listing of `BACKUP`, and whether
// every number above it is free too.
struct free_number {
  long long lowest = 0;
  bool none_above = true;
};

free_number lowest_free_number(const std::string& store_name, const platform::site_dir& dir) {
  const std::string prefix = store_name + ".b";
  std::vector<bool> taken;
  bool far_above = false;
  for (const std::string& name : platform::list_file_names(dir.at(backup_dir))) {
    long long n = backup_number(name, prefix);
    if (n < 0) continue;
    // Numbers are at most 9 digits; a very high one is only noted.
    if (n >= 100000000) {
      far_above = true;
      continue;
    }
    if (static_cast<size_t>(n) >= taken.size()) taken.resize(static_cast<size_t>(n) + 1);
    taken[static_cast<size_t>(n)] = true;
  }
  size_t next = 0;
  while (next < taken.size() && taken[next]) ++next;
  return {static_cast<long long>(next), next == taken.size() && !far_above};
}

// The hint beside `BACKUP`: the next free number of a store's backups, and
// the stamp `BACKUP` had right after that store's latest backup was filed.
// The hint holds while the stamp is unchanged (nothing was added to or
// removed from `BACKUP` since), so a save need not list the folder.
std::string hint_file(const std::string& store_name) {
  return std::string(backup_dir) + "." + store_name + ".next";
}

std::optional<long long> hinted_number(const std::string& store_name,
                                       const platform::site_dir& dir) {
  std::string why;  // a hint that is no plain file of the site is none
  std::optional<std::string> text =
      platform::read_site_file(dir.at(hint_file(store_name)), &why, 4096);
  std::optional<std::string> stamp = platform::directory_stamp(dir.at(backup_dir));
  if (!text || !stamp) return std::nullopt;
  size_t nl = text->find('\n');
  if (nl == std::string::npos || text->substr(nl + 1) != *stamp + "\n") return std::nullopt;
  std::optional<std::int32_t> n = parse_int(std::string_view(*text).substr(0, nl));
  if (!n || *n < 0) return std::nullopt;
  return *n;
}

// Records `next` as the next free number, with the stamp of `BACKUP` taken
// after its time was set back: any later change of the folder, even in the
// same tick of the clock, gives it a newer time and so voids the hint.
void record_hint(const std::string& store_name, long long next, const platform::site_dir& dir) {
  std::string hint = dir.at(hint_file(store_name));
  std::optional<std::string> stamp;
  if (platform::backdate_modification(dir.at(backup_dir))) {
    stamp = platform::directory_stamp(dir.at(backup_dir));
  }
  if (!stamp) {
    platform::remove_file(hint);  // the next save lists the folder
    return;
  }
  platform::replace_file(hint, std::to_string(next) + "\n" + *stamp + "\n", nullptr, false);
}

}  // namespace

std::string next_backup_name(const std::string& store_name, const platform::site_dir& dir) {
  return backup_name(store_name, lowest_free_number(store_name, dir).lowest);
}

bool backups_unchanged(const std::string& store_name, const platform::site_dir& dir) {
  return hinted_number(store_name, dir).has_value();
}

backup_plan plan_backup(const std::string& store_name, const platform::site_dir& dir) {
  // A hint is recorded only while the backups are numbered without a gap
  // from 0, so the number after the one taken is the next free one.
  if (std::optional<long long> hinted = hinted_number(store_name, dir)) {
    return {*hinted, true, true};
  }
  free_number free = lowest_free_number(store_name, dir);
  return {free.lowest, false, free.none_above};
}

std::string backup_name(const std::string& store_name, long long number) {
  return std::string(backup_dir) + "/" + store_name + ".b" + std::to_string(number);
}

std::optional<std::string> file_backup_copy(const std::string& store_name, backup_plan plan,
                                            platform::aside_file& copy, std::string* err,
                                            const platform::site_dir& dir) {
  if (!copy.sync(err)) return std::nullopt;
  long long n = plan.number;
  // The name is free unless something other than a regular file holds it,
  // or another process took it meanwhile: then the next number is tried. A
  // hint that names a taken number is wrong: the folder is listed again.
  for (int attempt = 0; attempt < 1000; ++attempt, ++n) {
    const std::string name = backup_name(store_name, n);
    int e = copy.link_to(dir.at(name));
    if (e == EEXIST) {
      if (plan.hinted) {
        plan.hinted = false;
        n = lowest_free_number(store_name, dir).lowest - 1;
      }
      plan.none_above = false;
      continue;
    }
    if (e != 0) {
      *err = name + ": " + std::strerror(e);
      return std::nullopt;
    }
    if (plan.none_above) {
      record_hint(store_name, n + 1, dir);
    } else {
      platform::remove_file(dir.at(hint_file(store_name)));  // the next save lists the folder
    }
    return name;
  }
  *err = "no free backup number from " + std::to_string(plan.number);
  return std::nullopt;
}

}  // namespace engine
