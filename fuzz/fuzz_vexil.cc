// vexil's page files: the input is a set of files, each opened by a line
// "=== name" and running to the next such line; the first file is the
// requested page. Page descriptions (.zoaml), templates (.tpl), stored form
// values (.par) and text files all come from the input.
#include <map>

#include "fuzz/fuzz_util.h"
#include "pages/vexil.h"

namespace {

class memory_files : public pages::page_files {
 public:
  std::optional<std::string> read(const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return pages::drop_carriage_returns(it->second);
  }
  bool remove(const std::string& path) override { return files.erase(path) == 1; }

  std::map<std::string, std::string> files;  // path, text
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::text_of(data, size);
  memory_files mem;
  std::string first;
  std::string* current = nullptr;
  while (!text.empty()) {
    size_t e = text.find('\n');
    std::string_view line = text.substr(0, e == std::string_view::npos ? text.size() : e + 1);
    text.remove_prefix(line.size());
    if (line.substr(0, 4) == "=== ") {
      std::string name(line.substr(4));
      if (!name.empty() && name.back() == '\n') name.pop_back();
      if (first.empty()) first = name;
      current = &mem.files[name];
    } else if (current) {
      *current += line;
    }
  }
  if (first.empty()) return 0;

  fuzz::sink s;
  pages::vexil_run run{s.out.pg(), mem, {}, 0, {}, {}};
  try {
    pages::show_page(run, first);
  } catch (const formdecode::run_exit&) {
  }
  return 0;
}
