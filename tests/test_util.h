// Shared helpers for the unit and black-box tests.
#pragma once

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "formdecode/page.h"
#include "gtest/gtest.h"

namespace test_util {

/// A fresh directory under the system's temporary directory, removed with
/// everything in it when the object goes (kept when KEEP_TEST_DIRS is set,
/// for looking at a failure).
class scoped_temp_dir {
 public:
  scoped_temp_dir();
  ~scoped_temp_dir();
  scoped_temp_dir(const scoped_temp_dir&) = delete;
  scoped_temp_dir& operator=(const scoped_temp_dir&) = delete;

  const std::string& path() const { return path_; }
  /// `path()` + "/" + `rel`.
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

/// The header every CGI page begins with.
inline const std::string cgi_header = "Content-type: text/html\n\n";

/// `config.txt` of a configured test site: server id srv1, orv id north,
/// the default thresholds and no e-mail address.
inline constexpr const char* north_config =
    "server id: srv1\n"
    "orv id: north\n"
    "retrieval threshold: 0\n"
    "virtual site distance threshold: 9\n"
    "max. vantle# threshold: 3\n"
    "email address: NULL\n";

/// Makes `dir` the working directory for the object's lifetime.
class scoped_chdir {
 public:
  explicit scoped_chdir(const std::string& dir);
  ~scoped_chdir();
  scoped_chdir(const scoped_chdir&) = delete;
  scoped_chdir& operator=(const scoped_chdir&) = delete;

 private:
  std::string old_;  // the working directory to return to
};

/// A fixture whose tests run in a fresh directory of their own, as a run of
/// a program works in its `html` directory.
class in_temp_dir : public ::testing::Test {
 protected:
  scoped_temp_dir dir_;
  scoped_chdir cd_{dir_.path()};
};

/// `in_temp_dir` with the outputs of a run: the page into a string and the
/// trace into `dump_file`.
class in_run_dir : public in_temp_dir {
 protected:
  in_run_dir() { EXPECT_TRUE(out_.tr().open("dump_file")); }
  ~in_run_dir() override { out_.finish(); }

  std::string page() const { return page_.str(); }
  std::string trace() const;

  std::ostringstream page_;
  formdecode::output out_{page_};
};

/// Calls `f`; the status of the `run_exit` it ended with, or -2 when it
/// returned.
template <class F>
int exit_status_of(F&& f) {
  try {
    f();
  } catch (const formdecode::run_exit& e) {
    return e.status;
  }
  return -2;
}

/// Writes `text` to `path`, creating parent directories.
void write_file(const std::string& path, const std::string& text);

/// The content of `path`, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

/// The names of the entries of a directory, sorted.
std::vector<std::string> list_dir(const std::string& dir);

/// What a run of a program left: its exit status and standard output.
struct run_result {
  int status = -1;   // exit status 0..255, or -1 when it did not exit
  std::string out;   // standard output (the page)
  std::string err;   // standard error
};

/// Runs `program` in `dir` with exactly the variables `env` (nothing is
/// inherited) and `input` on standard input, as a web server runs a CGI
/// program.
run_result run_program(const std::string& program, const std::string& dir,
                       const std::map<std::string, std::string>& env,
                       const std::string& input = "");

/// The same with the arguments `args` after the program name, as a person
/// runs a command.
run_result run_program_args(const std::string& program, const std::vector<std::string>& args,
                            const std::string& dir, const std::map<std::string, std::string>& env,
                            const std::string& input = "");

/// What `run_program_unprivileged` runs programs as when the tests run as
/// root: the user and group "nobody" (65534), for whom file permissions hold.
inline constexpr unsigned unprivileged_id = 65534;

/// When the tests run as root (as in CI): gives `dir` and everything in it
/// to `unprivileged_id`, so that what a test then takes away with chmod is
/// really missing for `run_program_unprivileged`. Otherwise nothing.
void give_to_unprivileged(const std::string& dir);

/// Like `run_program`, but as a user whom file permissions bind: as
/// `unprivileged_id` when the tests run as root, otherwise as the tests'
/// own user.
run_result run_program_unprivileged(const std::string& program, const std::string& dir,
                                    const std::map<std::string, std::string>& env);

/// The path of a built program: $PROGRAM_DIR/name, or the program
/// directory of the build tree the tests were built in.
std::string program_path(const std::string& name);

}  // namespace test_util
