// Page-template interpreter: turns a page description into HTML.
//
// A request names a page in the form field `zoa_name`. The page's media type
// decides what is written: an image, a copied text file, or a template
// (HTML with ZOA tags) into which the interpreter puts the index-cell form,
// the database-access field, stored form values and related pages. Pages
// live in `html/zoaml` below the starting directory.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formdecode/formdecode.h"
#include "formdecode/page.h"
#include "pages/zoa_page.h"

namespace pages {

/// Where page files are, below the program's starting directory.
inline constexpr const char* page_dir = "html/zoaml";
/// Prefix of the image URLs.
inline constexpr const char* image_dir = "S-Event_Data/Images";

/// Most pages that one run shows through links (the requested page not
/// counted). Real pages include a handful; a chain of pages that each
/// include the next twice would otherwise show 2^N pages. Further links are
/// left out, with one line on the page.
inline constexpr int max_inclusions = 1000;

/// Where a run's page files come from: the working directory in the
/// program, texts in memory in tests and the fuzz target.
class page_files {
 public:
  virtual ~page_files() = default;
  /// The whole content of `path`, or nothing when it cannot be read.
  virtual std::optional<std::string> read(const std::string& path) = 0;
  /// Removes `path`; false when it could not be removed.
  virtual bool remove(const std::string& path) = 0;
};

/// The page files of the working directory.
class directory_files : public page_files {
 public:
  std::optional<std::string> read(const std::string& path) override;
  bool remove(const std::string& path) override;
};

/// A page description as parsed once per run: the descriptor and the error
/// lines the parse wrote, written again by every showing.
struct parsed_page {
  zoa_page page;          // what the parser stored
  std::string messages;   // the parse's own page text
};

/// One run of the interpreter: the page it writes, the pages being shown
/// and what the run has read already. A file is read once per run; one that
/// the run removes is forgotten, so a later read sees the directory again.
struct vexil_run {
  formdecode::page& pg;               // the HTML answer
  page_files& files;                  // where page files are read
  std::vector<std::string> showing;   // page files being shown, outermost first
  int inclusions = 0;                 // pages shown through links so far
  std::map<std::string, std::optional<std::string>, std::less<>> texts;  // files read
  std::map<std::string, parsed_page, std::less<>> parsed;  // page descriptions parsed
};

/// The text of a page file for `run` (see `read_page_file`), read at most
/// once per run.
const std::optional<std::string>& page_text(vexil_run& run, const std::string& path);

/// Removes a page file and forgets what the run read of it.
void remove_page_file(vexil_run& run, const std::string& path);

/// The whole program after its page header: form decoding, then the page
/// named by `zoa_name`. Ends by returning or by throwing `run_exit`.
void run(const formdecode::request& rq, formdecode::page& pg);

/// Processes the page description `name` and writes its HTML; used for the
/// requested page and for pages reached through spatial links. A page that
/// is already being shown further up is skipped with a note.
void show_page(vexil_run& run, const std::string& name);

/// Interprets the template of a mixed page.
void run_template(vexil_run& run, zoa_page page);

/// Writes the index-cell form; a form without a usable `cgi` ends the run.
void write_ic_form(formdecode::page& pg, const ic_form& form, const std::string& page_name,
                   const std::string& db_access);

/// Writes the link of a structural relation (to a page or a picture).
void write_link(formdecode::page& pg, const std::string& target);

/// Writes the image line of `file`.
void write_image(formdecode::page& pg, const std::string& file);

/// Copies a text file to the page; a missing file ends the run.
void copy_text_file(vexil_run& run, const std::string& path);

/// Writes the not-implemented note for `what`.
void not_implemented(formdecode::page& pg, std::string_view what);

/// `name` with `ext` appended unless `ext` occurs in it already.
std::string with_extension(const std::string& name, std::string_view ext);

/// The URL of an image file: image_dir, "/", the file.
std::string image_url(const std::string& file);

/// The leading decimal number of a stored form value, 0 when there is none.
double numeric_value(std::string_view line);

/// `data` with each carriage return before a line feed dropped.
std::string drop_carriage_returns(std::string_view data);

/// The text of a page file with each carriage return before a line feed
/// dropped, or nothing when it cannot be read.
std::optional<std::string> read_page_file(const std::string& path);

}  // namespace pages
