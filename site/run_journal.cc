#include "site/run_journal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/cell_store.h"
#include "engine/store_text.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "site/naming.h"
#include "site/vantle.h"
#include "text/text.h"

namespace site {
namespace {

// Journal lines: "name_db N F" and "vantle_db N F" (size before the run and
// the fingerprint of those N bytes; "-" alone for no file), "saved N F"
// (size and fingerprint of the store the save writes). Journals of earlier
// versions also hold "store ID" (the identity of file.ic before the save)
// and "taken inbox/NAME" lines; they are still understood.
constexpr std::string_view name_db_key = "name_db ";
constexpr std::string_view vantle_db_key = "vantle_db ";
constexpr std::string_view saved_key = "saved ";
constexpr std::string_view store_key = "store ";
constexpr std::string_view taken_key = "taken ";

// Lines per record of the two naming files.
constexpr int name_db_record_lines = 7;
constexpr int vantle_db_record_lines = 2;

// A fingerprint of a text (64 bits, in hexadecimal) that stays the same
// across versions of the program: eight bytes at a time, mixed by
// multiplication. The text may come in pieces: the words run on across
// them, so the pieces give the fingerprint of the whole.
std::string fingerprint(std::span<const std::string_view> pieces) {
  size_t size = 0;
  for (std::string_view p : pieces) size += p.size();
  std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ size;
  auto mix = [&h](std::uint64_t w) {
    h ^= w;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 32;
  };
  std::uint64_t part = 0;  // the bytes of a word begun in an earlier piece
  size_t held = 0;
  for (std::string_view p : pieces) {
    size_t i = 0;
    while (held > 0 && held < 8 && i < p.size()) {
      part |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i++])) << (8 * held++);
    }
    if (held == 8) {
      mix(part);
      part = 0;
      held = 0;
    }
    for (; i + 8 <= p.size(); i += 8) {
      std::uint64_t w;
      std::memcpy(&w, p.data() + i, 8);
      mix(w);
    }
    for (; i < p.size(); ++i) {
      part |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * held++);
    }
  }
  mix(part);
  mix(h >> 29);
  char buf[17];
  static const char digits[] = "0123456789abcdef";
  for (int k = 15; k >= 0; --k, h >>= 4) buf[k] = digits[h & 15];
  buf[16] = '\0';
  return buf;
}

std::string fingerprint(std::string_view text) { return fingerprint({&text, 1}); }

// "N F" for the current content of `file`, or "-" when there is none.
std::string size_line(const std::optional<std::string>& text) {
  if (!text) return "-";
  return std::to_string(text->size()) + " " + fingerprint(*text);
}

// The highest "id: N" of the store text (0 when there is none).
std::int32_t highest_store_id(std::string_view store) {
  std::int32_t highest = 0;
  for (size_t at = 0; at < store.size();) {
    size_t e = store.find('\n', at);
    std::string_view line = store.substr(at, e == std::string_view::npos ? e : e - at);
    if (line.substr(0, 4) == "id: ") {
      std::optional<std::int32_t> id = engine::parse_int(line.substr(4));
      if (id && *id > highest) highest = *id;
    }
    at = e == std::string_view::npos ? store.size() : e + 1;
  }
  return highest;
}

// Why the naming file `file` may not be cut back as the journal line
// `value` says, or nothing when it may: the size must fall on a record
// boundary of the file as it is, its first bytes must be those the journal
// saw, and a record to be cut must be one the killed run appended (a name
// record of an id above every stored one).
std::optional<std::string> cut_refused(const char* file, std::string_view value,
                                       const std::optional<std::string>& now, int record_lines,
                                       std::string_view store) {
  std::string_view size_text = value.substr(0, value.find(' '));
  std::string_view print =
      value.find(' ') == std::string_view::npos ? "" : value.substr(value.find(' ') + 1);
  long long n = 0;
  if (value != "-") {
    std::optional<long long> size = text::parse_number<long long>(size_text, 0, 999999999999999);
    if (!size || print.empty()) return std::string("it is not a size and a fingerprint");
    n = *size;
  }
  if (!now) return std::nullopt;  // nothing to cut
  if (static_cast<size_t>(n) > now->size()) {
    return "the file holds " + std::to_string(now->size()) + " bytes, fewer than " +
           std::to_string(n);
  }
  std::string_view kept = std::string_view(*now).substr(0, static_cast<size_t>(n));
  if (value != "-" && fingerprint(kept) != print) {
    return std::string("its first bytes are not those the run began with");
  }
  size_t lines = 0;
  for (char c : kept) lines += c == '\n';
  if ((!kept.empty() && kept.back() != '\n') || lines % static_cast<size_t>(record_lines) != 0) {
    return "byte " + std::to_string(n) + " is not the end of a record";
  }
  if (std::string(file) == name_db_file) {
    std::int32_t highest = highest_store_id(store);
    bool old_record = false;
    read_name_records(
        std::string_view(*now).substr(static_cast<size_t>(n)),
        [&](const name_record& rec) {
          old_record = rec.ic_id <= highest;
          return old_record;
        },
        nullptr);
    if (old_record) return std::string("a record to be cut names a stored cell");
  }
  return std::nullopt;
}

}  // namespace

void run_journal::write(const std::string& text) {
  std::string err;
  if (!platform::replace_file(dir_.at(journal_file), text, &err)) {
    dir_.as_inside(&err);
    out_.both("Error: can't write the run journal %s; nothing is changed.\n<p>", err);
    throw formdecode::run_exit{1};
  }
}

void run_journal::recover(formdecode::output& out, const platform::site_dir& dir) {
  // The folders a run moves the site's files into and out of must be the
  // site's own: through a link to a folder elsewhere, a pick-up would move
  // that folder's files into inbox, a save would file its copies there.
  for (const char* folder : {exchange::held_dir, exchange::staging_dir, engine::backup_dir}) {
    std::string why;
    if (!platform::site_directory_or_absent(dir.at(folder), &why)) {
      dir.as_inside(&why);
      out.both("Error: can't read %s; nothing is changed.\n<p>", why);
      throw formdecode::run_exit{1};
    }
  }
  // `BACKUP` may hold thousands of copies: it is listed only when it
  // changed since the latest save filed its copy.
  int parts = platform::remove_leftover_parts(dir.at(".")) +
              platform::remove_leftover_parts(dir.at(exchange::staging_dir));
  if (!engine::backups_unchanged(engine::store_file, dir)) {
    parts += platform::remove_leftover_parts(dir.at(engine::backup_dir));
  }
  if (parts > 0) out.tr().print("Removed %d temporary files of killed runs.\n", parts);

  std::string err;
  std::optional<std::string> text = platform::read_site_file(dir.at(journal_file), &err);
  dir.as_inside(&err);
  if (!text && err.empty() && platform::exists(dir.at(journal_file))) err = "a link to nothing";
  if (!text && !err.empty()) {
    // Neither completed nor undone, and no run may go on beside it.
    out.both("Error: can't read the run journal %s; nothing is changed.\n<p>", err);
    throw formdecode::run_exit{1};
  }
  if (!text) {
    // Staged and held files without a journal: their run was killed before
    // its save.
    exchange::discard_staged(dir);
    exchange::return_held(dir);
    return;
  }
  auto refuse_line = [&](std::string_view line, const std::string& why) {
    out.both("Error: the run journal %s holds \"%s\", which is left alone: %s.\n<p>",
             journal_file, line, why);
  };
  std::optional<std::string> saved_line;
  std::optional<std::string> store_before;
  std::vector<std::string> taken;
  std::vector<std::pair<const char*, std::string>> sizes;
  std::string_view rest = *text;
  while (!rest.empty()) {
    size_t e = rest.find('\n');
    std::string_view line = rest.substr(0, e);
    rest = e == std::string_view::npos ? std::string_view() : rest.substr(e + 1);
    if (line.starts_with(saved_key)) {
      saved_line = std::string(line.substr(saved_key.size()));
    } else if (line.starts_with(store_key)) {
      store_before = std::string(line.substr(store_key.size()));
    } else if (line.starts_with(taken_key)) {
      // Only a plain file of `inbox` was ever taken.
      std::string_view path = line.substr(taken_key.size());
      std::string_view prefix = exchange::inbox_dir;
      if (path.starts_with(prefix) && path.size() > prefix.size() &&
          path[prefix.size()] == '/' &&
          exchange::is_plain_name(path.substr(prefix.size() + 1))) {
        taken.emplace_back(path);
      } else {
        refuse_line(line, "only files of inbox are taken");
      }
    } else if (line.starts_with(name_db_key)) {
      sizes.emplace_back(name_db_file, line.substr(name_db_key.size()));
    } else if (line.starts_with(vantle_db_key)) {
      sizes.emplace_back(vantle_db_file, line.substr(vantle_db_key.size()));
    } else if (!line.empty()) {
      refuse_line(line, "it is not a line of a run journal");
    }
  }
  std::string store_err;
  std::optional<std::string> store =
      platform::read_site_file(dir.at(engine::store_file), &store_err);
  dir.as_inside(&store_err);
  if (!store && !store_err.empty()) {
    out.both("Error: can't read %s; nothing is changed.\n<p>", store_err);
    throw formdecode::run_exit{1};
  }
  // The save took effect when file.ic holds exactly the text it wrote: a
  // store put back by hand, by a rename or a copy of a backup, is not it.
  bool saved = false;
  if (saved_line) {
    saved = store && *saved_line == std::to_string(store->size()) + " " + fingerprint(*store);
  } else if (store_before) {
    // A journal of an earlier version: the save replaced file.ic by a new
    // file, written after the journal.
    std::optional<std::string> now = platform::file_identity(dir.at(engine::store_file));
    std::optional<platform::file_info> written = platform::stat_file(dir.at(engine::store_file));
    std::optional<platform::file_info> noted = platform::stat_file(dir.at(journal_file));
    saved = now && *now != *store_before && written && noted &&
            std::pair(written->mtime_sec, written->mtime_nsec) >=
                std::pair(noted->mtime_sec, noted->mtime_nsec);
  }
  if (saved) {
    exchange::publish_staged(dir);
    exchange::remove_held(dir);
    for (const std::string& path : taken) platform::remove_file(dir.at(path));
    out.tr().write("The run before this one was killed after its save: its messages are "
                   "completed.\n");
  } else {
    for (const auto& [file, value] : sizes) {
      std::string file_err;
      std::optional<std::string> now = platform::read_site_file(dir.at(file), &file_err);
      dir.as_inside(&file_err);
      if (!now && !file_err.empty()) {
        out.both("Error: can't read %s; nothing is changed.\n<p>", file_err);
        throw formdecode::run_exit{1};
      }
      int record_lines = std::string(file) == name_db_file ? name_db_record_lines
                                                           : vantle_db_record_lines;
      if (std::optional<std::string> why =
              cut_refused(file, value, now, record_lines, store.value_or(""))) {
        refuse_line(std::string(file) + " " + value, *why);
        continue;
      }
      if (!now) continue;
      if (value == "-") {
        platform::remove_file(dir.at(file));
      } else {
        long long n = text::leading_number(value.substr(0, value.find(' ')));
        if (static_cast<long long>(now->size()) > n) platform::truncate_file(dir.at(file), n);
      }
    }
    exchange::discard_staged(dir);
    exchange::return_held(dir);
    out.tr().write("The run before this one was killed before its save: its changes are "
                   "undone.\n");
  }
  if (!platform::remove_file(dir.at(journal_file))) {
    // Acted on twice, it would cut records of later runs.
    out.both("Error: can't remove the run journal %s; nothing more is changed.\n<p>",
             journal_file);
    throw formdecode::run_exit{1};
  }
}

run_journal::run_journal(formdecode::output& out, const platform::site_dir& dir)
    : out_(out), dir_(dir) {}

void run_journal::before_naming_change() {
  if (noted_) return;
  std::optional<std::string> name_db = read_naming_file(name_db_file, out_.pg(), dir_);
  std::optional<std::string> vantle_db = read_naming_file(vantle_db_file, out_.pg(), dir_);
  sizes_ = std::string(name_db_key) + size_line(name_db) + "\n" +
           std::string(vantle_db_key) + size_line(vantle_db) + "\n";
  name_db_size_ = name_db ? std::optional<std::int64_t>(name_db->size()) : std::nullopt;
  vantle_db_size_ = vantle_db ? std::optional<std::int64_t>(vantle_db->size()) : std::nullopt;
  write(sizes_);
  noted_ = true;
}

void run_journal::save(engine::engine_state& st, exchange::exchange_state& ex) {
  bool staged = !platform::list_files_oldest_first(dir_.at(exchange::staging_dir)).empty();
  bool journaled = noted_ || staged || !ex.taken.empty();
  engine::save_all_cells(st, [&](const std::vector<std::string_view>& store) {
    if (!journaled) return;
    size_t size = 0;
    for (std::string_view p : store) size += p.size();
    write(sizes_ + std::string(saved_key) + std::to_string(size) + " " + fingerprint(store) +
          "\n");
  });  // the run takes effect here
  if (!journaled) return;
  exchange::publish_staged(ex.dir);
  exchange::remove_taken(ex);
  platform::remove_file(dir_.at(journal_file));
  noted_ = false;
  sizes_.clear();
}

void run_journal::roll_back(exchange::exchange_state& ex) {
  if (noted_) {
    auto cut = [this](const char* file, const std::optional<std::int64_t>& size) {
      if (!size) {
        platform::remove_file(dir_.at(file));
      } else if (std::optional<platform::file_info> now = platform::stat_file(dir_.at(file));
                 now && now->size > *size) {
        platform::truncate_file(dir_.at(file), *size);
      }
    };
    cut(name_db_file, name_db_size_);
    cut(vantle_db_file, vantle_db_size_);
  }
  exchange::discard_staged(ex.dir);
  exchange::return_held(ex.dir);
  ex.taken.clear();
  platform::remove_file(dir_.at(journal_file));
  noted_ = false;
  sizes_.clear();
}

}  // namespace site
