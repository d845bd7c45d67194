// IC type definition files: the transition functions of an IC type, read
// from the type's fg functions file ("VANTLE.in" for the type VANTLE).
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/records.h"
#include "formdecode/page.h"
#include "platform/site_dir.h"

namespace engine {

/// Longest parameter list a message or call spec line may carry.
constexpr size_t max_parameter_list = 98;

/// The file that defines `ic_type`: the type name followed by ".in".
std::string fg_file_name(const std::string& ic_type);

/// The most a transition-function file is read up to; a larger one is
/// refused as unreadable.
inline constexpr std::size_t fg_file_limit = std::size_t{16} << 20;

/// The parameters of a parameter list (the text after a spec's number):
/// the texts between vertical bars, numbered from 1, each flagged by its
/// first character. Empty texts are passed over.
std::vector<parameter> parse_parameter_list(std::string_view list);

/// The transition functions of every IC type a run meets, each type's
/// file read once and its chain shared by the cells of the type.
class fg_library {
 public:
  /// `out` takes the page and trace lines of a file that cannot be read.
  /// The files are read in `*dir` (which outlives the library), or in the
  /// working directory.
  explicit fg_library(formdecode::output& out, const platform::site_dir* dir = nullptr)
      : out_(out), dir_(dir) {}
  fg_library(const fg_library&) = delete;
  fg_library& operator=(const fg_library&) = delete;

  /// The transition functions of `ic_type`: the built-in head function,
  /// then one function per entry of the type's file, in file order. A
  /// missing or malformed file ends the run through `fatal_trace` (status
  /// -1); differing output-IC and output-message counts end it with
  /// status 0.
  fg_chain of(const std::string& ic_type);

  /// The same functions as a fresh copy of one's own.
  std::vector<fg_function> copy_of(const std::string& ic_type);

  /// Makes `chain` the transition functions of `ic_type` for the rest of
  /// the run, as if its file had been read: a reader of cells from memory
  /// needs no fg functions file then.
  void set(const std::string& ic_type, std::vector<fg_function> chain);

 private:
  formdecode::output& out_;
  const platform::site_dir* dir_;
  std::map<std::string, std::shared_ptr<const std::vector<fg_function>>, std::less<>> cache_;
};

/// Parses the text of an fg functions file; `file_name` names it in the
/// messages. Failures end the run as for `fg_library::of`.
std::vector<fg_function> parse_fg_functions(formdecode::output& out, std::string_view text,
                                            const std::string& file_name);

/// What is wrong with an fg functions file, as its reader finds it.
struct fg_damage {
  bool fatal = true;     // a malformed entry (else: counts that differ)
  std::string headline;  // what is malformed
  std::string line;      // the line read last (fatal), or the file's name
  /// What the page says of it, without markup.
  std::string text() const;
};

/// The functions of the text of an fg functions file, or what is wrong
/// with it; nothing is written.
std::variant<std::vector<fg_function>, fg_damage> parse_fg_functions(std::string_view text,
                                                                     const std::string& file_name);

/// Writes "***** headline *****" and `line` to the page and the trace,
/// closes the page body and ends the run with status -1.
[[noreturn]] void fatal_trace(formdecode::output& out, std::string_view headline,
                              std::string_view line);

}  // namespace engine
