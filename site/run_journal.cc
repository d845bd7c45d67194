#include "site/run_journal.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/cell_store.h"
#include "platform/platform.h"
#include "site/naming.h"
#include "site/vantle.h"

namespace site {
namespace {

// Journal lines: "name_db N", "vantle_db N" (sizes before the run, "-" for
// no file), "store ID" (the identity of file.ic before the save, "-" for
// none) and one "taken PATH" per incoming file.
constexpr std::string_view name_db_key = "name_db ";
constexpr std::string_view vantle_db_key = "vantle_db ";
constexpr std::string_view store_key = "store ";
constexpr std::string_view taken_key = "taken ";

std::string size_text(const std::optional<std::int64_t>& size) {
  return size ? std::to_string(*size) : std::string("-");
}

// Cuts a naming file back to its size before the run (removes it when it
// did not exist).
// The size of `file`, or nothing when there is none.
std::optional<std::int64_t> size_of(const char* file) {
  std::optional<platform::file_info> info = platform::stat_file(file);
  if (!info) return std::nullopt;
  return info->size;
}

void cut_back(const char* file, std::string_view size) {
  if (size == "-") {
    platform::remove_file(file);
    return;
  }
  std::string digits(size);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return;
  long long n = std::strtoll(digits.c_str(), nullptr, 10);
  std::optional<platform::file_info> now = platform::stat_file(file);
  if (now && now->size > n) platform::truncate_file(file, n);
}

// The journal text without the commit lines.
std::string sizes_text(bool noted, const std::optional<std::int64_t>& name_db,
                       const std::optional<std::int64_t>& vantle_db) {
  if (!noted) return {};
  return std::string(name_db_key) + size_text(name_db) + "\n" + std::string(vantle_db_key) +
         size_text(vantle_db) + "\n";
}

void write_journal(const std::string& text) {
  platform::replace_file(journal_file, text, nullptr);
}

}  // namespace

void run_journal::recover(formdecode::output& out) {
  // `BACKUP` may hold thousands of copies: it is listed only when it
  // changed since the latest save filed its copy.
  int parts = platform::remove_leftover_parts(".") +
              platform::remove_leftover_parts(exchange::staging_dir);
  if (!engine::backups_unchanged(engine::store_file)) {
    parts += platform::remove_leftover_parts(engine::backup_dir);
  }
  if (parts > 0) out.tr().print("Removed %d temporary files of killed runs.\n", parts);

  std::optional<std::string> text = platform::read_file(journal_file);
  if (!text) {
    // Staged files without a journal: their run was killed before its save.
    exchange::discard_staged();
    return;
  }
  std::optional<std::string> store_before;
  std::vector<std::string> taken;
  std::vector<std::pair<const char*, std::string>> sizes;
  std::string_view rest = *text;
  while (!rest.empty()) {
    size_t e = rest.find('\n');
    std::string_view line = rest.substr(0, e);
    rest = e == std::string_view::npos ? std::string_view() : rest.substr(e + 1);
    if (line.substr(0, store_key.size()) == store_key) {
      store_before = std::string(line.substr(store_key.size()));
    } else if (line.substr(0, taken_key.size()) == taken_key) {
      taken.emplace_back(line.substr(taken_key.size()));
    } else if (line.substr(0, name_db_key.size()) == name_db_key) {
      sizes.emplace_back(name_db_file, line.substr(name_db_key.size()));
    } else if (line.substr(0, vantle_db_key.size()) == vantle_db_key) {
      sizes.emplace_back(vantle_db_file, line.substr(vantle_db_key.size()));
    }
  }
  // The save replaced file.ic by a new file, written after the journal: a
  // file put back by hand is older than the journal.
  bool saved = false;
  if (store_before) {
    std::optional<std::string> now = platform::file_identity(engine::store_file);
    std::optional<platform::file_info> written = platform::stat_file(engine::store_file);
    std::optional<platform::file_info> noted = platform::stat_file(journal_file);
    saved = now && *now != *store_before && written && noted &&
            std::pair(written->mtime_sec, written->mtime_nsec) >=
                std::pair(noted->mtime_sec, noted->mtime_nsec);
  }
  if (saved) {
    exchange::publish_staged();
    for (const std::string& path : taken) platform::remove_file(path);
    out.tr().write("The run before this one was killed after its save: its messages are "
                   "completed.\n");
  } else {
    for (const auto& [file, size] : sizes) cut_back(file, size);
    exchange::discard_staged();
    out.tr().write("The run before this one was killed before its save: its changes are "
                   "undone.\n");
  }
  platform::remove_file(journal_file);
}

void run_journal::before_naming_change() {
  if (noted_) return;
  noted_ = true;
  name_db_size_ = size_of(name_db_file);
  vantle_db_size_ = size_of(vantle_db_file);
  write_journal(sizes_text(noted_, name_db_size_, vantle_db_size_));
}

void run_journal::save(engine::engine_state& st, exchange::exchange_state& ex) {
  bool staged = !platform::list_files_oldest_first(exchange::staging_dir).empty();
  bool journaled = noted_ || staged || !ex.taken.empty();
  if (journaled) {
    std::string text = sizes_text(noted_, name_db_size_, vantle_db_size_);
    text += std::string(store_key) +
            platform::file_identity(engine::store_file).value_or("-") + "\n";
    for (const std::string& path : ex.taken) text += std::string(taken_key) + path + "\n";
    write_journal(text);
  }
  engine::save_all_cells(st);  // the run takes effect here
  if (!journaled) return;
  exchange::publish_staged();
  exchange::remove_taken(ex);
  platform::remove_file(journal_file);
  noted_ = false;
}

void run_journal::roll_back(exchange::exchange_state& ex) {
  if (noted_) {
    cut_back(name_db_file, size_text(name_db_size_));
    cut_back(vantle_db_file, size_text(vantle_db_size_));
  }
  exchange::discard_staged();
  ex.taken.clear();
  platform::remove_file(journal_file);
  noted_ = false;
}

}  // namespace site
