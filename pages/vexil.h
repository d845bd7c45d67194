// Page-template interpreter: turns a page description into HTML.
//
// A request names a page in the form field `zoa_name`. The page's media type
// decides what is written: an image, a copied text file, or a template
// (HTML with ZOA tags) into which the interpreter puts the index-cell form,
// the database-access field, stored form values and related pages. Pages
// live in `html/zoaml` below the starting directory.
#pragma once

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

/// One run of the interpreter: the page it writes and the pages being shown.
struct vexil_run {
  formdecode::page& pg;               // the HTML answer
  std::vector<std::string> showing;   // page files being shown, outermost first
};

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
void copy_text_file(formdecode::page& pg, const std::string& path);

/// Writes the not-implemented note for `what`.
void not_implemented(formdecode::page& pg, std::string_view what);

/// `name` with `ext` appended unless `ext` occurs in it already.
std::string with_extension(const std::string& name, std::string_view ext);

/// The URL of an image file: image_dir, "/", the file.
std::string image_url(const std::string& file);

/// The leading decimal number of a stored form value, 0 when there is none.
double numeric_value(std::string_view line);

/// The text of a page file with each carriage return before a line feed
/// dropped, or nothing when it cannot be read.
std::optional<std::string> read_page_file(const std::string& path);

}  // namespace pages
