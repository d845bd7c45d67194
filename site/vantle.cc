#include "site/vantle.h"

#include <vector>

#include "platform/platform.h"
#include "site/naming.h"

namespace site {
namespace {

using engine::store_reader;
using engine::store_writer;

constexpr std::string_view comment_end = "#!";
constexpr std::string_view default_text = "undefined";

bool ends_comment(std::string_view line) { return line.find(comment_end) != std::string_view::npos; }

// The lines of `text` split at line feeds.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    size_t e = text.find('\n');
    lines.push_back(text.substr(0, e));
    if (e == std::string_view::npos) return lines;
    text.remove_prefix(e + 1);
  }
}

// True when the comment, written as its lines, reads back unchanged.
bool readable_as_lines(std::string_view comment) {
  if (comment.find('\r') != std::string_view::npos) return false;
  if (comment.find('\n') == std::string_view::npos) {
    // One line, as nearly every comment is: no list of lines to build.
    if (comment.substr(0, engine::encoded_marker.size()) == engine::encoded_marker) return false;
    return ends_comment(comment) || comment == default_text;
  }
  std::vector<std::string_view> lines = lines_of(comment);
  if (lines.front().substr(0, engine::encoded_marker.size()) == engine::encoded_marker) return false;
  if (lines.size() == 1) return ends_comment(lines[0]) || lines[0] == default_text;
  if (lines.front() == default_text) return false;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (ends_comment(lines[i])) return false;
  }
  return ends_comment(lines.back());
}

// The descriptive texts of an entry or of the vantle itself (the members
// of the same names), written and read in place.
template <class Texts>
void write_texts(store_writer& w, const Texts& e) {
  w.text(e.vantle_type);
  w.text(e.doc_id);
  w.text(e.i_am);
  w.text(e.i_love);
  w.text(e.i_hate);
  w.text(e.i_behave);
  w.text(e.i_keyword);
  write_comment(w, e.i_comment);
}

template <class Texts>
void read_texts(store_reader& r, Texts& e) {
  e.vantle_type = r.text("vantle_type");
  e.doc_id = r.text("doc_id");
  e.i_am = r.text("i_am");
  e.i_love = r.text("i_love");
  e.i_hate = r.text("i_hate");
  e.i_behave = r.text("i_behave");
  e.i_keyword = r.text("i_keyword");
  e.i_comment = read_comment(r);
}

std::int32_t count_after(store_reader& r, std::string_view label) {
  std::optional<std::int32_t> n = engine::parse_int(r.labelled(label));
  if (!n || *n < 0) r.fail("\"" + std::string(label) + "\" must be followed by a count");
  return *n;
}

// A keyword list without its closing character.
std::string without_last(const std::string& s) { return s.empty() ? s : s.substr(0, s.size() - 1); }

// Fusion of one keyword field over the entries, front first.
std::string fuse_lists(const std::list<info_entry>& entries, std::string info_entry::*field,
                       bool commas_to_hashes) {
  std::string merged;
  bool first = true;
  for (const info_entry& e : entries) {
    if (first) {
      std::string list = e.*field;
      if (commas_to_hashes) {
        for (char& c : list) {
          if (c == ',') c = '#';
        }
      }
      merged = without_last(list);
      first = false;
    } else {
      merge_keywords(merged, e.*field);
    }
  }
  return merged + "!";
}

}  // namespace

std::unique_ptr<vantle_record> new_vantle_record() { return std::make_unique<vantle_record>(); }

void write_comment(store_writer& w, const std::string& comment) {
  if (readable_as_lines(comment)) {
    w.line(comment);
  } else {
    w.line(engine::force_encode_text(comment));
  }
}

std::string read_comment(store_reader& r) {
  std::string_view first = r.line("a comment");
  if (first.substr(0, engine::encoded_marker.size()) == engine::encoded_marker) {
    return engine::decode_text(first);
  }
  std::string comment(first);
  if (ends_comment(first) || first == default_text) return comment;
  for (;;) {
    std::string_view next = r.line("the line that ends a comment with \"#!\"");
    comment += '\n';
    comment += next;
    if (ends_comment(next)) return comment;
  }
}

namespace {

// Passes over a comment as `read_comment` reads it.
void pass_comment(store_reader& r) {
  std::string_view first = r.line("a comment");
  if (first.starts_with(engine::encoded_marker) || ends_comment(first) || first == default_text) {
    return;
  }
  while (!ends_comment(r.line("the line that ends a comment with \"#!\""))) {
  }
}

// Passes over the texts `read_texts` reads, but for `i_am`, which it returns.
std::string pass_texts(store_reader& r) {
  r.pass(2, "vantle_type and doc_id");
  std::string i_am = r.text("i_am");
  r.pass(4, "i_love, i_hate, i_behave and i_keyword");
  pass_comment(r);
  return i_am;
}

}  // namespace

void save_vantle(store_writer& w, const vantle_record& v, formdecode::page& pg) {
  w.number(v.ic_id);
  w.text(v.orv_id);
  w.character(v.copy_mark);
  write_texts(w, v);
  w.text(v.symbolic_name);
  w.text(v.owner_email);
  w.number(v.value_1);
  w.number(v.sender_ic_id);
  w.text(v.sender_orv_id);
  w.character(v.sender_copy_mark);
  w.number(v.max_vantle_threshold);

  auto infos = static_cast<std::int32_t>(v.info_link.size());
  if (infos != v.collected_vantles) {
    pg.write("save_mm: something wrong in the element # of info_link.<p>\n");
  }
  w.labelled("info_link: ", infos);
  for (const info_entry& e : v.info_link) {
    w.number(e.ic_id);
    w.text(e.orv_id);
    w.character(e.copy_mark);
    write_texts(w, e);
  }

  auto profiles = static_cast<std::int32_t>(v.profile_link.size());
  if (profiles != v.collected_doc_ids) {
    pg.write("save_mm: something wrong with the # of the element of profile_link.<p>\n");
  }
  w.labelled("profile_link: ", profiles);
  for (const profile_entry& e : v.profile_link) {
    w.number(e.ic_id);
    w.text(e.orv_id);
    w.character(e.copy_mark);
    w.text(e.doc_id);
  }

  if (!v.fusion) {
    w.line("fusion: 0");
  } else {
    w.line("fusion: 1");
    w.number(v.fusion->ic_id);
    w.text(v.fusion->orv_id);
    w.character(v.fusion->copy_mark);
    write_texts(w, *v.fusion);
  }
}

void load_vantle(store_reader& r, vantle_record& v, const std::function<void()>& described) {
  v.ic_id = r.number("the vantle's ic id");
  v.orv_id = r.text("the vantle's orv id");
  v.copy_mark = r.character("the vantle's copy mark");
  read_texts(r, v);
  v.symbolic_name = r.text("the vantle's symbolic name");
  v.owner_email = r.text("the owner's e-mail address");
  v.value_1 = r.number("value_1");
  v.sender_ic_id = r.number("the sender's ic id");
  v.sender_orv_id = r.text("the sender's orv id");
  v.sender_copy_mark = r.character("the sender's copy mark");
  v.max_vantle_threshold = r.number("max_vantle_threshold");
  if (described) described();

  v.info_link.clear();
  v.collected_vantles = count_after(r, "info_link: ");
  for (std::int32_t i = 0; i < v.collected_vantles; ++i) {
    info_entry e;
    e.ic_id = r.number("the ic id of an info entry");
    e.orv_id = r.text("the orv id of an info entry");
    e.copy_mark = r.character("the copy mark of an info entry");
    read_texts(r, e);
    v.info_link.push_front(std::move(e));
  }

  v.profile_link.clear();
  v.collected_doc_ids = count_after(r, "profile_link: ");
  for (std::int32_t i = 0; i < v.collected_doc_ids; ++i) {
    profile_entry e;
    e.ic_id = r.number("the ic id of a profile entry");
    e.orv_id = r.text("the orv id of a profile entry");
    e.copy_mark = r.character("the copy mark of a profile entry");
    e.doc_id = r.text("the doc id of a profile entry");
    v.profile_link.push_front(std::move(e));
  }

  std::optional<std::int32_t> fused = engine::parse_int(r.labelled("fusion: "));
  if (!fused) r.fail("\"fusion: \" must be followed by a number");
  v.fusion.reset();
  if (*fused != 0) {
    fusion_record f;
    f.ic_id = r.number("the ic id of the fusion record");
    f.orv_id = r.text("the orv id of the fusion record");
    f.copy_mark = r.character("the copy mark of the fusion record");
    read_texts(r, f);
    v.fusion = std::move(f);
  }
}

void pass_vantle(store_reader& r, vantle_record& v, const std::function<void()>& described) {
  v.ic_id = r.number("the vantle's ic id");
  v.orv_id = r.text("the vantle's orv id");
  v.copy_mark = r.character("the vantle's copy mark");
  v.i_am = pass_texts(r);
  // symbolic name, e-mail address, value_1, the sender's ic id, orv id and
  // copy mark, max_vantle_threshold
  r.pass(7, "the vantle's description");
  if (described) described();
  const std::int32_t infos = count_after(r, "info_link: ");
  for (std::int32_t i = 0; i < infos; ++i) {
    r.pass(3, "the name of an info entry");
    pass_texts(r);
  }
  r.pass(std::int64_t{4} * count_after(r, "profile_link: "), "a profile entry");
  std::optional<std::int32_t> fused = engine::parse_int(r.labelled("fusion: "));
  if (!fused) r.fail("\"fusion: \" must be followed by a number");
  if (*fused != 0) {
    r.pass(3, "the name of the fusion record");
    pass_texts(r);
  }
}

void add_info_entry(vantle_record& v, info_entry e, const std::optional<std::string>& site) {
  e.ic_id = -1;
  e.orv_id = site && !site->empty() ? *site : "N/A";
  e.copy_mark = 'n';
  v.info_link.push_front(std::move(e));
  ++v.collected_vantles;
}

void add_profile_entry(vantle_record& v, const std::string& doc_id) {
  profile_entry e;
  e.doc_id = doc_id;
  v.profile_link.push_front(std::move(e));
  ++v.collected_doc_ids;
}

void merge_keywords(std::string& merged, const std::string& list) {
  std::string word;
  for (char c : list) {
    if (c == '!') break;
    if (c == '#' || c == ',') {
      std::string entry = word + "#";
      if (merged.find(entry) == std::string::npos) merged += entry;
      word.clear();
    } else {
      word += c;
    }
  }
}

fusion_record fuse_info_gathering(const vantle_record& v) {
  fusion_record f;
  f.ic_id = v.ic_id;
  f.orv_id = v.orv_id;
  f.copy_mark = v.copy_mark;
  f.vantle_type = v.vantle_type;

  std::string doc_ids, comments;
  bool any_comment = false;
  for (const info_entry& e : v.info_link) {
    doc_ids += e.doc_id + "#";
    if (e.i_comment.size() != 2) {
      // A comment gives up its closing "!" only: one that does not end in
      // one (written before comments were mended, or by another site) is
      // kept whole and ends with "#", as the others do.
      const std::string& c = e.i_comment;
      if (!c.empty() && c.back() == '!') {
        comments += without_last(c);
      } else {
        comments += c.empty() || c.back() != '#' ? c + "#" : c;
      }
      any_comment = true;
    }
  }
  f.doc_id = doc_ids + "!";
  if (v.info_link.empty()) f.doc_id = "#!";
  f.i_comment = any_comment ? comments + "!" : "#!";
  f.i_am = fuse_lists(v.info_link, &info_entry::i_am, false);
  f.i_love = fuse_lists(v.info_link, &info_entry::i_love, false);
  f.i_hate = fuse_lists(v.info_link, &info_entry::i_hate, false);
  f.i_keyword = fuse_lists(v.info_link, &info_entry::i_keyword, true);
  f.i_behave = "#!";
  return f;
}

fusion_record fuse_profile(const vantle_record& v) {
  fusion_record f;
  f.ic_id = v.ic_id;
  f.orv_id = v.orv_id;
  f.copy_mark = v.copy_mark;
  f.vantle_type = v.vantle_type;
  f.i_am = v.i_am;
  f.i_love = v.i_love;
  f.i_hate = v.i_hate;
  f.i_behave = v.i_behave;
  f.i_keyword = v.i_keyword;
  f.i_comment = v.i_comment;
  std::string doc_ids;
  for (const profile_entry& e : v.profile_link) doc_ids += e.doc_id + "#";
  f.doc_id = v.profile_link.empty() ? "#!" : doc_ids + "!";
  return f;
}

bool read_vantle_records(std::string_view text,
                         const std::function<bool(std::string_view, std::string_view)>& visit,
                         std::string* err) {
  std::string_view rest = text;
  int line_no = 0;
  auto next_line = [&]() -> std::optional<std::string_view> {
    if (rest.empty()) return std::nullopt;
    size_t e = rest.find('\n');
    std::string_view line = rest.substr(0, e);
    rest = e == std::string_view::npos ? std::string_view() : rest.substr(e + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_no;
    return line;
  };
  while (std::optional<std::string_view> stored = next_line()) {
    std::optional<std::string_view> doc_id = next_line();
    if (!doc_id) {
      if (err) *err = "line " + std::to_string(line_no) +
                      ": the last record is not complete (a name without its document id)";
      return false;
    }
    if (visit(*stored, *doc_id)) return true;
  }
  return true;
}

bool vantle_name_taken(const std::string& name, formdecode::page& pg,
                       const platform::site_dir& dir) {
  std::optional<std::string> data = read_naming_file(vantle_db_file, pg, dir);
  if (!data) return false;
  if (name.empty()) {
    pg.write("Warning: there is no symbolic name.\n<p>");
    return false;
  }
  bool taken = false;
  bool whole = read_vantle_records(
      *data,
      [&](std::string_view stored, std::string_view) {
        taken = engine::trim_trailing_spaces(stored) == engine::trim_trailing_spaces(name);
        return taken;
      },
      nullptr);
  if (!whole) pg.write("Error: the last record is not complete!!\n<p>");
  return taken;
}

bool vantle_db_append(const std::string& name, const std::string& doc_id,
                      const platform::site_dir& dir) {
  if (name.find_first_of("\n\r") != std::string::npos ||
      doc_id.find_first_of("\n\r") != std::string::npos) {
    return false;
  }
  return platform::append_file(dir.at(vantle_db_file), name + "\n" + doc_id + "\n", nullptr);
}

}  // namespace site
