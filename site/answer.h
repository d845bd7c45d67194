// The answer in values: what one request did, beside the page that tells
// it. The run fills it as it works (the hooks note the cells they make,
// change, delete and show; the pick-up notes each file); `finish_answer`
// decides the outcome and the summary; `answer_json` writes it as the JSON
// object of docs/answer.schema.json.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/config.h"
#include "site/keywords.h"

namespace site {

/// How a request ended.
enum class outcome {
  done,     // carried out
  refused,  // the form broke a rule: nothing changed
  error,    // the site could not carry it out
  nothing,  // carried out, with nothing to do or show
};

/// A cell, as an answer names it.
struct cell_ref {
  std::int32_t ic_id = 0;
  std::string ic_type;
  std::string sym_name;  // its name in name_db, or the vantle's name; may be empty
};

/// The cells a request (or one picked-up file) made, changed and deleted,
/// each once, in the order it happened.
struct cell_changes {
  std::vector<cell_ref> created;
  std::vector<cell_ref> changed;  // collected results, filled copies: not created, not deleted
  std::vector<cell_ref> deleted;
};

/// A refused value of a form.
struct refused_value {
  std::string label;  // the label of the field on the manager form
  std::string field;  // the form field, or the name of a content value
  std::string value;  // the value or the word refused, as given
  std::string why;
};

/// A vantle as a request shows it. Keyword lists as stored.
struct vantle_view {
  std::int32_t ic_id = 0;
  std::string sym_name;
  std::string doc_id;
  std::string vantle_type;
  std::int32_t state = 0;
  std::string orv_id;
  char copy_mark = 's';
  std::string i_am, i_love, i_hate, i_behave, i_keyword;
  std::string comment;
  std::string email;
};

/// One document of a query's saved results.
struct document_view {
  std::string doc_id;
  std::optional<std::string> site;                        // the answering site, when known
  std::string i_am, i_love, i_hate, i_behave, i_keyword;  // keyword lists as they came back
  std::string comment;
  std::optional<int> distance;  // to the query, in this site's keyword hierarchy
  int rank = 0;                 // 1 for the first
};

/// A query vantle's saved results.
struct query_view {
  std::int32_t ic_id = 0;
  std::string doc_id;
  std::string keywords;                             // the query's list (its i_am)
  std::optional<std::vector<std::string>> sent_to;  // by the table and threshold of now
  std::vector<document_view> documents;             // each document once, ranked
};

/// This site's distance to a site of its table.
struct site_distance {
  std::string orv_id;
  int distance = 0;
};

/// One incoming file of a pick-up.
struct picked_file {
  std::string file;                   // its name in inbox
  std::optional<std::string> sender;  // orv id of the sending site, when known
  bool applied = false;
  std::string why;                          // why it was refused
  std::string refusal;                      // the line that set it aside, without its
                                            // markup and its leading "Error: "
  std::vector<std::string> load_warnings;   // what reading and taking it said
  std::vector<std::string> message_errors;  // what processing its message said
  cell_changes cells;
};

/// One outgoing file handed to the put script.
struct sent_file {
  std::string file;
  std::optional<std::string> to;  // the receiving site, when the table names it
};

/// What the request asked for.
struct request_view {
  std::string kind = "none";
  std::string message_type, flag, ic_type;
  std::vector<std::int32_t> ic_ids;
};

/// The answer of one request.
struct answer {
  std::string orv_id, server_id;  // the answering site, once its settings are read
  request_view request;
  outcome result = outcome::done;
  int exit_status = 0;
  std::string summary;
  std::vector<refused_value> refusals;
  std::vector<std::string> errors;
  cell_changes cells;
  std::optional<std::vector<vantle_view>> vantles;
  std::optional<std::vector<query_view>> results;
  std::optional<site_config> settings;
  std::optional<std::vector<site_distance>> sites;  // with the settings, when the table reads
  std::optional<std::vector<std::string>> pick_up_warnings;  // before the first file taken
  std::optional<std::vector<picked_file>> picked;
  std::optional<std::vector<sent_file>> sent;
  std::string page;  // the whole page, once the run is over

  /// The page as written so far, when the run keeps it (else none).
  const std::string* page_so_far = nullptr;
  /// Where the page stands now (0 when it is not kept).
  size_t page_at() const { return page_so_far ? page_so_far->size() : 0; }
  /// The error lines the page got from `from` on, or before `to`.
  std::vector<std::string> errors_since(size_t from) const;
  std::vector<std::string> errors_before(size_t to) const;

  /// Where the file being processed notes its cells, besides `cells`.
  cell_changes* file_cells = nullptr;

  /// Notes a cell made, changed or deleted.
  void created(const cell_ref& c);
  void changed(const cell_ref& c);
  void deleted(const cell_ref& c);
  /// Gives the created cell `ic_id` the name `sym_name` when it has none.
  void named(std::int32_t ic_id, const std::string& sym_name);
  /// Notes a query's saved results, in place of those noted before.
  void shown_results(query_view q);
};

/// The kind of a request from its message type and id list.
std::string request_kind(std::string_view message_type, const std::vector<std::int32_t>& ids);

/// The numbers of an id list, as far as they read.
std::vector<std::int32_t> id_list(std::string_view list);

/// The label the manager form shows for `field`; the field itself when
/// the form has none.
std::string label_of(std::string_view field);

/// The lines of `page` that report an error, without their markup.
std::vector<std::string> error_lines(std::string_view page);

/// The words of a keyword list, without separators.
std::vector<std::string> words_of(std::string_view list);

/// A comment without its closing "#!".
std::string plain_comment(std::string_view comment);

/// The document ids of a result's doc_id: one id, or the fused list of a
/// site's answer.
std::vector<std::string> document_ids(std::string_view doc_id);

/// Each document's distance to `query` (a keyword list) in `tree` (none:
/// no distance), and the ranks: by distance (none last), site, document id.
void rank_documents(std::vector<document_view>& docs, std::string_view query,
                    const keyword_tree* tree);

/// True when an Accept header asks for application/json.
bool wants_json(std::string_view accept);

/// Decides the outcome and the summary once the run is over: `status` is
/// its exit status, `completed` false when it stopped on the way.
void finish_answer(answer& a, int status, bool completed);

/// The answer as one JSON object (docs/answer.schema.json).
std::string answer_json(const answer& a);

}  // namespace site
