// Site files: where the parts of a site directory are, and which names its
// pages give the manager program.
#pragma once

#include <string>
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
