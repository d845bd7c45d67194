// Vantle records: the application memory of a VANTLE cell (the description
// of one document and the results it collected), its text block in the
// cell store, the fusion of collected results, and the name file
// `vantle_db`.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/records.h"
#include "engine/store_text.h"
#include "formdecode/page.h"

#include "platform/site_dir.h"

namespace site {

/// The IC type whose cells carry a vantle record.
inline constexpr const char* vantle_type_name = "VANTLE";

inline constexpr const char* vantle_db_file = "vantle_db";

/// The empty keyword list.
inline constexpr const char* empty_list = "!";

/// Vantle categories.
inline constexpr const char* info_gathering = "Info_Gathering";
inline constexpr const char* profile = "Profile";

/// One collected query result of an Info_Gathering vantle; also the shape
/// of the fusion record.
struct info_entry {
  std::int32_t ic_id = -1;
  std::string orv_id = "N/A";
  char copy_mark = 'n';
  std::string vantle_type;
  std::string doc_id;
  std::string i_am;
  std::string i_love;
  std::string i_hate;
  std::string i_behave;
  std::string i_keyword;
  std::string i_comment;  // may span lines
};

/// One collected document id of a Profile vantle.
struct profile_entry {
  std::int32_t ic_id = -1;
  std::string orv_id = "N/A";
  char copy_mark = 'n';
  std::string doc_id;
};

/// The fusion of a vantle's collected entries.
using fusion_record = info_entry;

/// The application memory of a VANTLE cell.
struct vantle_record : engine::app_memory {
  std::int32_t ic_id = 0;
  std::string orv_id = "0";
  char copy_mark = 's';
  std::string vantle_type = "undefined";
  std::string doc_id = "undefined";
  std::string i_am = "undefined";
  std::string i_love = "undefined";
  std::string i_hate = "undefined";
  std::string i_behave = "undefined";
  std::string i_keyword = "undefined";
  std::string i_comment = "undefined";  // free text; its last line holds "#!"
  std::string symbolic_name;
  std::string owner_email = "undefined";
  std::int32_t value_1 = 0;              // match flag of the last query
  std::int32_t sender_ic_id = 0;
  std::string sender_orv_id = "0";
  char sender_copy_mark = 's';
  std::int32_t max_vantle_threshold = 0;
  std::int32_t collected_vantles = 0;    // entries in info_link
  std::list<info_entry> info_link;       // newest first
  std::int32_t collected_doc_ids = 0;    // entries in profile_link
  std::list<profile_entry> profile_link; // newest first
  std::optional<fusion_record> fusion;
};

/// A vantle record with the defaults of a new cell.
std::unique_ptr<vantle_record> new_vantle_record();

/// Writes the record's block of the cell store. A count that does not
/// match its list is reported on the page and the walked count written.
void save_vantle(engine::store_writer& w, const vantle_record& v, formdecode::page& pg);

/// Reads the block written by `save_vantle`. `described` is called once the
/// description (everything before the collected lists) is read.
void load_vantle(engine::store_reader& r, vantle_record& v, const std::function<void()>& described);
/// Reads of a vantle block the program saved itself only what its virtual
/// group needs (`ic_id`, `orv_id`, `copy_mark` and `i_am`), calls
/// `described` where `load_vantle` does, and passes over the rest: the
/// reader ends where `load_vantle` would leave it.
void pass_vantle(engine::store_reader& r, vantle_record& v, const std::function<void()>& described);

/// Writes a comment so that `read_comment` gives it back: as its lines
/// when the last line, and only that one, holds "#!" (or when it is the
/// one-line default "undefined"), else as one encoded line.
void write_comment(engine::store_writer& w, const std::string& comment);

/// Reads a comment: up to and including the first line holding "#!"; an
/// encoded line, a first line holding "#!" and the default "undefined"
/// are one line.
std::string read_comment(engine::store_reader& r);

/// Puts an info entry at the front of `info_link`. Its orv id is the site
/// that answered, `site`, when known, else "N/A".
void add_info_entry(vantle_record& v, info_entry e,
                    const std::optional<std::string>& site = std::nullopt);

/// Puts a profile entry for `doc_id` at the front of `profile_link`.
void add_profile_entry(vantle_record& v, const std::string& doc_id);

/// The fusion of an Info_Gathering vantle's `info_link`.
fusion_record fuse_info_gathering(const vantle_record& v);

/// The fusion of a Profile vantle's `profile_link`.
fusion_record fuse_profile(const vantle_record& v);

/// Merges the words of keyword list `list` into `merged` (a list without
/// its closing "!"): each word ended by "#" or "," is appended with "#"
/// unless that text occurs in `merged` already.
void merge_keywords(std::string& merged, const std::string& list);

/// Reads the records (a name line and a document id line) of the text of
/// a `vantle_db` in file order, calling `visit` with each until it returns
/// true. False, with `*err` saying on which line, when the last record is
/// not complete.
bool read_vantle_records(std::string_view text,
                         const std::function<bool(std::string_view, std::string_view)>& visit,
                         std::string* err);

/// True when `name` is registered in `vantle_db`. An empty name is
/// reported ("Warning: there is no symbolic name.\n<p>") and counts as free.
bool vantle_name_taken(const std::string& name, formdecode::page& pg, const platform::site_dir& dir = {});

/// Appends the name record (`name`, `doc_id`) to `vantle_db`. False when
/// the file cannot be written or a text holds a line break.
bool vantle_db_append(const std::string& name, const std::string& doc_id, const platform::site_dir& dir = {});

}  // namespace site
