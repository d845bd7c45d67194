#include "tests/test_util.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace test_util {

scoped_temp_dir::scoped_temp_dir() {
  std::string templ = (fs::temp_directory_path() / "orvtest.XXXXXX").string();
  if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

scoped_temp_dir::~scoped_temp_dir() {
  if (std::getenv("KEEP_TEST_DIRS")) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

scoped_chdir::scoped_chdir(const std::string& dir) : old_(fs::current_path().string()) {
  fs::current_path(dir);
}

scoped_chdir::~scoped_chdir() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

std::string in_run_dir::trace() const { return read_file("dump_file").value_or(""); }

void write_file(const std::string& path, const std::string& text) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

run_result run_program(const std::string& program, const std::string& dir,
                       const std::map<std::string, std::string>& env, const std::string& input) {
  return run_program_args(program, {}, dir, env, input);
}

namespace {

run_result run_as(const std::string& program, const std::vector<std::string>& args,
                  const std::string& dir, const std::map<std::string, std::string>& env,
                  const std::string& input, bool drop_root);

}  // namespace

run_result run_program_args(const std::string& program, const std::vector<std::string>& args,
                            const std::string& dir, const std::map<std::string, std::string>& env,
                            const std::string& input) {
  return run_as(program, args, dir, env, input, false);
}

void give_to_unprivileged(const std::string& dir) {
  if (::geteuid() == 0) {
    // A temporary directory is made for root alone.
    ::chmod(dir.c_str(), 0755);
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      if (::lchown(e.path().c_str(), unprivileged_id, unprivileged_id) != 0) {
        throw std::runtime_error("cannot give " + e.path().string() + " away");
      }
    }
    if (::chown(dir.c_str(), unprivileged_id, unprivileged_id) != 0) {
      throw std::runtime_error("cannot give " + dir + " away");
    }
  }
}

run_result run_program_unprivileged(const std::string& program, const std::string& dir,
                                    const std::map<std::string, std::string>& env) {
  if (::geteuid() != 0) return run_as(program, {}, dir, env, "", false);
  // The build tree may lie where only root may go (a checkout in root's
  // home): the program runs from a copy that every user can reach.
  static scoped_temp_dir copies;
  static std::map<std::string, std::string> copied;
  std::string& copy = copied[program];
  if (copy.empty()) {
    ::chmod(copies.path().c_str(), 0755);
    copy = copies / fs::path(program).filename().string();
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
    ::chmod(copy.c_str(), 0755);
  }
  return run_as(copy, {}, dir, env, "", true);
}

namespace {

run_result run_as(const std::string& program, const std::vector<std::string>& args,
                  const std::string& dir, const std::map<std::string, std::string>& env,
                  const std::string& input, bool drop_root) {
  scoped_temp_dir io;
  std::string in_path = io / "stdin", out_path = io / "stdout", err_path = io / "stderr";
  write_file(in_path, input);

  std::vector<std::string> env_text;
  for (const auto& [k, v] : env) env_text.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : env_text) envp.push_back(s.data());
  envp.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = ::open(in_path.c_str(), O_RDONLY);
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (drop_root && (::setgroups(0, nullptr) != 0 || ::setgid(unprivileged_id) != 0 ||
                      ::setuid(unprivileged_id) != 0)) {
      ::_exit(125);
    }
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run_result r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = read_file(out_path).value_or("");
  r.err = read_file(err_path).value_or("");
  return r;
}

}  // namespace

std::string program_path(const std::string& name) {
  const char* dir = std::getenv("PROGRAM_DIR");
  return std::string(dir ? dir : DEFAULT_PROGRAM_DIR) + "/" + name;
}

}  // namespace test_util
