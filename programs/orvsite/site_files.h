// Site files: where the parts of a site directory are, and which names its
// pages give the manager program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvsite {

/// The directory of a site's files, below the site directory.
inline constexpr const char* html_dir = "html";
/// The pages, below `html`.
inline constexpr const char* page_dir = "html/zoaml";
/// The images the pages show, below the site directory.
inline constexpr const char* image_dir = "S-Event_Data/Images";
/// The page interpreter, under the name every page links to.
inline constexpr const char* vexil_name = "vexil.cgi";
/// The manager's name when no page names one.
inline constexpr const char* default_manager = "orv.cgi";

/// `a` + "/" + `b`.
std::string join(const std::string& a, const std::string& b);

/// The names that the pages (`*.zoaml`) of `pages` send their forms to:
/// every `cgi` value of a page's form that is a plain file name, sorted,
/// each once. The pages are read with vexil's own parser.
std::vector<std::string> manager_names(const std::string& pages);

/// The program that serves the manager's forms in the site `dir`: the
/// first name its pages use that exists in `dir`, otherwise orv.cgi.
std::string manager_program(const std::string& dir);

/// The regular files of `dir` whose names end with `suffix`, sorted.
std::vector<std::string> files_ending_with(const std::string& dir, const std::string& suffix);

}  // namespace orvsite

namespace orvsite {

/// Makes a directory the working directory for the object's lifetime, as
/// the site's readers work in the working directory.
class in_directory {
 public:
  explicit in_directory(const std::string& dir);
  ~in_directory();
  in_directory(const in_directory&) = delete;
  in_directory& operator=(const in_directory&) = delete;

  /// False when `dir` could not be entered.
  bool entered() const { return entered_; }

 private:
  std::string old_;       // the working directory to return to
  bool entered_ = false;  // whether the change took place
};

/// `dir` as an absolute path (relative to the working directory).
std::string absolute(const std::string& dir);

/// The time `seconds` (since 1970) in UTC, written with the strftime
/// `format`.
std::string utc_text(std::int64_t seconds, const char* format);

/// Page text with each "@ORV_ID@" replaced by `orv_id` and each
/// "@SERVER_ID@" by `server_id`: the sample pages name their own site so.
std::string substitute_ids(std::string text, const std::string& orv_id,
                           const std::string& server_id);

}  // namespace orvsite
