// The answer in values: recording, outcome, ranking and the JSON text.
#include "site/answer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <tuple>

#include "json/json.h"
#include "text/text.h"

namespace site {
namespace {

bool same_cell(const cell_ref& a, const cell_ref& b) { return a.ic_id == b.ic_id; }

void note(std::vector<cell_ref>& list, const cell_ref& c) {
  for (const cell_ref& e : list) {
    if (same_cell(e, c)) return;
  }
  list.push_back(c);
}

void note_changed(cell_changes& cc, const cell_ref& c) {
  for (const cell_ref& e : cc.created) {
    if (same_cell(e, c)) return;
  }
  for (const cell_ref& e : cc.deleted) {
    if (same_cell(e, c)) return;
  }
  note(cc.changed, c);
}

void note_deleted(cell_changes& cc, const cell_ref& c) {
  std::erase_if(cc.changed, [&](const cell_ref& e) { return same_cell(e, c); });
  note(cc.deleted, c);
}

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

const char* outcome_name(outcome o) {
  switch (o) {
    case outcome::done:
      return "done";
    case outcome::refused:
      return "refused";
    case outcome::error:
      return "error";
    case outcome::nothing:
      return "nothing";
  }
  return "error";
}

void write_cell(json::writer& w, const cell_ref& c) {
  w.begin_object();
  w.member("ic_id", c.ic_id).member("ic_type", c.ic_type).member("sym_name", c.sym_name);
  w.end_object();
}

void write_cells(json::writer& w, const cell_changes& cc) {
  w.begin_object();
  w.key("created").begin_array();
  for (const cell_ref& c : cc.created) write_cell(w, c);
  w.end_array().key("changed").begin_array();
  for (const cell_ref& c : cc.changed) write_cell(w, c);
  w.end_array().key("deleted").begin_array();
  for (const cell_ref& c : cc.deleted) write_cell(w, c);
  w.end_array();
  w.end_object();
}

// The five keyword lists of a vantle or a document, as arrays of words.
template <class V>
void write_lists(json::writer& w, const V& v) {
  w.member("i_am", words_of(v.i_am));
  w.member("i_love", words_of(v.i_love));
  w.member("i_hate", words_of(v.i_hate));
  w.member("i_behave", words_of(v.i_behave));
  w.member("keywords", words_of(v.i_keyword));
}

// The summary of a request that was carried out, and whether it found
// anything to do.
std::pair<outcome, std::string> carried_out(const answer& a) {
  const std::string& kind = a.request.kind;
  const cell_changes& cc = a.cells;
  if (kind == "create") {
    if (cc.created.empty()) return {outcome::error, "No cell was created."};
    const cell_ref& c = cc.created.front();
    std::string name = c.sym_name.empty() ? "" : " \"" + c.sym_name + "\"";
    if (c.ic_type == "VANTLE") {
      return {outcome::done, "Vantle " + std::to_string(c.ic_id) + name + " was created."};
    }
    return {outcome::done,
            "Cell " + std::to_string(c.ic_id) + name + " of type " + c.ic_type + " was created."};
  }
  if (kind == "list" || kind == "show") {
    size_t n = a.vantles ? a.vantles->size() : 0;
    if (n == 0) return {outcome::nothing, "No vantle was found."};
    if (kind == "show" && n == 1) {
      return {outcome::done, "Vantle " + std::to_string(a.vantles->front().ic_id) + "."};
    }
    return {outcome::done, plural(n, "vantle", "vantles") + "."};
  }
  if (kind == "results") {
    if (!a.results || a.results->empty()) return {outcome::nothing, "No query vantle was found."};
    const query_view& q = a.results->front();
    return {outcome::done, plural(q.documents.size(), "document answers", "documents answer") +
                               " query " + std::to_string(q.ic_id) + " (" + q.doc_id + ")."};
  }
  if (kind == "delete" || kind == "delete_document") {
    if (cc.deleted.empty()) return {outcome::nothing, "No vantle was found; nothing is deleted."};
    std::string ids;
    for (const cell_ref& c : cc.deleted) ids += (ids.empty() ? "" : ", ") + std::to_string(c.ic_id);
    return {outcome::done, (cc.deleted.size() == 1 ? "Vantle " : "Vantles ") + ids +
                               (cc.deleted.size() == 1 ? " was" : " were") + " deleted."};
  }
  if (kind == "config_show") return {outcome::done, "The settings of site " + a.orv_id + "."};
  if (kind == "config_update") return {outcome::done, "The setting is changed."};
  if (kind == "pick_up") {
    size_t n = a.picked ? a.picked->size() : 0;
    if (n == 0) return {outcome::nothing, "No incoming message."};
    size_t refused = 0;
    for (const picked_file& f : *a.picked) refused += f.applied ? 0 : 1;
    std::string s = plural(n - refused, "message", "messages") + " picked up";
    if (refused > 0) s += ", " + std::to_string(refused) + " refused";
    return {outcome::done, s + "."};
  }
  if (kind == "send") {
    size_t n = a.sent ? a.sent->size() : 0;
    if (n == 0) return {outcome::nothing, "No outgoing message."};
    return {outcome::done, plural(n, "message", "messages") + " handed to the transfer script."};
  }
  if (kind == "backup") return {outcome::done, "All vantles are saved and a backup copy is filed."};
  if (kind == "restore") return {outcome::done, "All vantles are read again."};
  return {outcome::done, "The message " + a.request.message_type + " was processed."};
}

}  // namespace

std::vector<std::string> answer::errors_since(size_t from) const {
  if (!page_so_far || from >= page_so_far->size()) return {};
  return error_lines(std::string_view(*page_so_far).substr(from));
}

std::vector<std::string> answer::errors_before(size_t to) const {
  if (!page_so_far) return {};
  return error_lines(std::string_view(*page_so_far).substr(0, to));
}

void answer::created(const cell_ref& c) {
  note(cells.created, c);
  if (file_cells) note(file_cells->created, c);
}

void answer::changed(const cell_ref& c) {
  note_changed(cells, c);
  if (file_cells) note_changed(*file_cells, c);
}

void answer::deleted(const cell_ref& c) {
  note_deleted(cells, c);
  if (file_cells) note_deleted(*file_cells, c);
}

void answer::named(std::int32_t ic_id, const std::string& sym_name) {
  for (cell_changes* cc : {&cells, file_cells}) {
    if (!cc) continue;
    for (cell_ref& c : cc->created) {
      if (c.ic_id == ic_id && c.sym_name.empty()) c.sym_name = sym_name;
    }
  }
}

void answer::shown_results(query_view q) {
  if (!results) results.emplace();
  for (query_view& e : *results) {
    if (e.ic_id == q.ic_id) {
      e = std::move(q);
      return;
    }
  }
  results->push_back(std::move(q));
}

std::string request_kind(std::string_view type, const std::vector<std::int32_t>& ids) {
  struct entry {
    std::string_view type, kind;
  };
  static constexpr entry kinds[] = {
      {"MSG_CREATE", "create"},           {"MSG_SHOW_VANTLE_RESULT", "results"},
      {"MSG_DELETE", "delete"},           {"MSG_MOVE_DELETE", "delete_document"},
      {"MSG_SHOW_CONFIG", "config_show"}, {"MSG_UPDATE_CONFIG", "config_update"},
      {"SYS_PICK_UP_MSG", "pick_up"},     {"SYS_SEND_MSG", "send"},
      {"SYS_BACKUP", "backup"},           {"SYS_RESTORE", "restore"},
  };
  if (type.empty()) return "none";
  if (type == "MSG_SHOW_ALL") return !ids.empty() && ids.front() == -1 ? "list" : "show";
  for (const entry& e : kinds) {
    if (e.type == type) return std::string(e.kind);
  }
  return "message";
}

std::vector<std::int32_t> id_list(std::string_view list) {
  std::vector<std::int32_t> ids;
  std::string text(list);
  const char* p = text.c_str();
  for (;;) {
    while (*p == ' ') ++p;
    if (*p == '\0') break;
    char* end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    if (end == p || (*end != ' ' && *end != '\0') || v < INT32_MIN || v > INT32_MAX) break;
    ids.push_back(static_cast<std::int32_t>(v));
    p = end;
  }
  return ids;
}

std::string label_of(std::string_view field) {
  struct entry {
    std::string_view field, label;
  };
  // The labels of the manager page's forms.
  static constexpr entry labels[] = {
      {"doc_id", "Document id"},
      {"i_am", "I am (keywords)"},
      {"i_love", "I love (keywords)"},
      {"i_hate", "I hate (keywords)"},
      {"i_behave", "I behave (keywords)"},
      {"i_keyword", "Keywords"},
      {"i_comment", "Comment"},
      {"vantle_type", "Vantle type"},
      {"sym_name", "Symbolic name"},
      {"ic_sym_name", "Symbolic name of the cell"},
      {"ic_id_list", "Vantle id"},
      {"message_type", "Message type"},
      {"flag", "Flag"},
      {"ic_type", "IC type"},
      {"content", "Content"},
      {"query", "Keywords"},
  };
  for (const entry& e : labels) {
    if (e.field == field) return std::string(e.label);
  }
  return std::string(field);
}

std::vector<std::string> error_lines(std::string_view page) {
  static constexpr std::string_view starts[] = {
      "Error",  "Cannot find file ", "Cannot open data file ", "The data file ",
      "Can't ", "The cell store "};
  std::vector<std::string> lines;
  for (size_t at = 0; at < page.size(); ++at) {
    if (at != 0 && page[at - 1] != '\n' && page[at - 1] != '>') continue;
    std::string_view rest = page.substr(at);
    bool error = false;
    for (std::string_view s : starts) error = error || rest.starts_with(s);
    size_t end = rest.find_first_of("\n<");
    // A file that is there but does not read says so in its own words.
    error = error || rest.substr(0, end).find(" is missing or damaged") != std::string_view::npos;
    if (!error) continue;
    lines.push_back(trim(rest.substr(0, end)));
    if (end == std::string_view::npos) break;
    at += end;
  }
  return lines;
}

std::vector<std::string> words_of(std::string_view list) {
  std::vector<std::string> words;
  for (std::string& w : split_words(list)) {
    std::string t = trim(w);
    if (!t.empty()) words.push_back(std::move(t));
  }
  return words;
}

std::string plain_comment(std::string_view comment) {
  std::string c(comment);
  if (c.size() >= 2 && c.compare(c.size() - 2, 2, "#!") == 0) {
    c.resize(c.size() - 2);
  } else if (!c.empty() && c.back() == '!') {
    c.pop_back();
    if (!c.empty() && c.back() == '#') c.pop_back();
  }
  return c;
}

std::vector<std::string> document_ids(std::string_view doc_id) {
  if (doc_id.find('#') == std::string_view::npos && doc_id.find('!') == std::string_view::npos) {
    if (doc_id.empty()) return {};
    return {std::string(doc_id)};
  }
  return words_of(doc_id);
}

void rank_documents(std::vector<document_view>& docs, std::string_view query,
                    const keyword_tree* tree) {
  std::vector<std::string> asked = words_of(query);
  for (document_view& d : docs) {
    d.distance.reset();
    if (!tree) continue;
    for (const std::string& w : words_of(d.i_am)) {
      for (const std::string& q : asked) {
        std::pair<int, int> steps = keyword_distance(*tree, q, w);
        if (steps.first < 0 || steps.second < 0) continue;
        int n = steps.first + steps.second;
        if (!d.distance || n < *d.distance) d.distance = n;
      }
    }
  }
  auto key = [](const document_view& d) {
    return std::make_tuple(!d.distance.has_value(), d.distance.value_or(0), !d.site.has_value(),
                           d.site.value_or(""), d.doc_id);
  };
  std::stable_sort(docs.begin(), docs.end(),
                   [&](const document_view& a, const document_view& b) { return key(a) < key(b); });
  for (size_t i = 0; i < docs.size(); ++i) docs[i].rank = static_cast<int>(i) + 1;
}

bool wants_json(std::string_view accept) {
  while (!accept.empty()) {
    size_t comma = accept.find(',');
    std::string_view range = accept.substr(0, comma);
    accept = comma == std::string_view::npos ? std::string_view() : accept.substr(comma + 1);
    size_t semi = range.find(';');
    std::string type = text::lower(trim(range.substr(0, semi)));
    if (type != "application/json") continue;
    // "q=0" says the type is not acceptable.
    std::string params =
        semi == std::string_view::npos ? "" : text::lower(range.substr(semi));
    size_t q = params.find("q=");
    if (q != std::string::npos && std::strtod(params.c_str() + q + 2, nullptr) <= 0) continue;
    return true;
  }
  return false;
}

void finish_answer(answer& a, int status, bool completed) {
  a.exit_status = status;
  if (a.page_so_far) a.page = *a.page_so_far;
  a.errors = error_lines(a.page);
  // A pick-up that took no file: all it said is about the site's files.
  if (a.picked && !a.pick_up_warnings) a.pick_up_warnings = a.errors;
  if (!a.refusals.empty()) {
    const refused_value& r = a.refusals.front();
    a.result = outcome::refused;
    a.summary = "Refused: " + r.label + " \"" + r.value + "\": " + r.why + ".";
    if (r.value.empty()) a.summary = "Refused: " + r.why + ".";
    return;
  }
  if (status != 0 || !completed) {
    a.result = outcome::error;
    a.summary = "The request was not carried out";
    a.summary += a.errors.empty() ? "." : ": " + a.errors.back();
    return;
  }
  std::tie(a.result, a.summary) = carried_out(a);
}

std::string answer_json(const answer& a) {
  std::string out;
  json::writer w(out);
  w.begin_object();
  w.member("format", "orv-answer").member("version", 1).member("program", "orv");
  w.key("site").begin_object().member("orv_id", a.orv_id).member("server_id", a.server_id);
  w.end_object();
  w.key("request").begin_object();
  w.member("kind", a.request.kind).member("message_type", a.request.message_type);
  w.member("flag", a.request.flag).member("ic_type", a.request.ic_type);
  w.key("ic_ids").begin_array();
  for (std::int32_t id : a.request.ic_ids) w.value(id);
  w.end_array().end_object();
  w.member("outcome", outcome_name(a.result)).member("exit_status", a.exit_status);
  w.member("summary", a.summary);
  w.key("refusals").begin_array();
  for (const refused_value& r : a.refusals) {
    w.begin_object().member("label", r.label).member("field", r.field);
    w.member("value", r.value).member("why", r.why).end_object();
  }
  w.end_array();
  w.member("errors", a.errors);
  w.key("cells");
  write_cells(w, a.cells);
  if (a.vantles) {
    w.key("vantles").begin_array();
    for (const vantle_view& v : *a.vantles) {
      w.begin_object();
      w.member("ic_id", v.ic_id).member("sym_name", v.sym_name).member("doc_id", v.doc_id);
      w.member("vantle_type", v.vantle_type).member("state", v.state);
      w.member("orv_id", v.orv_id).member("copy_mark", std::string(1, v.copy_mark));
      write_lists(w, v);
      w.member("comment", plain_comment(v.comment)).member("email", v.email);
      w.end_object();
    }
    w.end_array();
  }
  if (a.results) {
    w.key("results").begin_array();
    for (const query_view& q : *a.results) {
      w.begin_object();
      w.key("query").begin_object().member("ic_id", q.ic_id).member("doc_id", q.doc_id);
      w.member("keywords", words_of(q.keywords)).end_object();
      if (q.sent_to) w.member("sent_to", *q.sent_to);
      w.key("documents").begin_array();
      for (const document_view& d : q.documents) {
        w.begin_object().member("doc_id", d.doc_id).member("site", d.site);
        write_lists(w, d);
        w.member("comment", plain_comment(d.comment));
        w.key("distance");
        if (d.distance) {
          w.value(*d.distance);
        } else {
          w.null();
        }
        w.member("rank", d.rank).end_object();
      }
      w.end_array().end_object();
    }
    w.end_array();
  }
  if (a.settings) {
    const site_config& c = *a.settings;
    w.key("settings").begin_object();
    w.member("server_id", c.server_id).member("orv_id", c.orv_id);
    w.member("retrieve_threshold", c.retrieve_threshold).member("vg_threshold", c.vg_threshold);
    w.member("max_vantle_threshold", c.max_vantle_threshold).member("email", c.email);
    if (a.sites) {
      w.key("sites").begin_array();
      for (const site_distance& s : *a.sites) {
        w.begin_object().member("orv_id", s.orv_id).member("distance", s.distance).end_object();
      }
      w.end_array();
    }
    w.end_object();
  }
  if (a.picked) {
    w.key("pick_up").begin_object();
    if (a.pick_up_warnings) w.member("load_warnings", *a.pick_up_warnings);
    w.key("files").begin_array();
    for (const picked_file& f : *a.picked) {
      w.begin_object().member("file", f.file).member("sender", f.sender);
      w.member("outcome", f.applied ? "applied" : "refused").member("why", f.why);
      w.member("load_warnings", f.load_warnings).member("message_errors", f.message_errors);
      w.key("cells");
      write_cells(w, f.cells);
      w.end_object();
    }
    w.end_array().end_object();
  }
  if (a.sent) {
    w.key("send").begin_object().key("files").begin_array();
    for (const sent_file& f : *a.sent) {
      w.begin_object().member("file", f.file).member("to", f.to).end_object();
    }
    w.end_array().end_object();
  }
  w.member("page", a.page);
  w.end_object();
  out += '\n';
  return out;
}

}  // namespace site
