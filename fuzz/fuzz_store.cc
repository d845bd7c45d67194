// The cell store `file.ic` in both layouts: the site manager's (with the
// vantle block of each cell) and the template manager's counter layout.
// What reads is written again, and that text must read back: a saved store
// that no later run could load would lose the site.
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "engine/cell_store.h"
#include "engine/fg_reader.h"
#include "fuzz/fuzz_util.h"
#include "programs/cellkit/template_hooks.h"
#include "site/orv_hooks.h"

namespace {

// The text a save writes of the store `text`, read in full.
std::string store_text(engine::engine_state& st, std::string_view text) {
  st.cells.load(std::string(text), engine::store_reading::full, st.clock);
  engine::store_writer w;
  if (st.codec.layout == engine::store_layout::counter) {
    w.line("next available ic: " + std::to_string(st.cells.next_cell_id));
  }
  std::string head = w.take();
  std::string fresh;
  std::string saved;
  for (std::string_view piece : st.cells.store_pieces(head, fresh)) saved += piece;
  return saved;
}

// Names the first line where a store saved twice more differs from the
// first save, so that a failing input tells what did not survive.
void report_difference(std::string_view saved, std::string_view again) {
  size_t a = 0;
  size_t b = 0;
  for (int line = 1;; ++line) {
    std::optional<std::string_view> x = engine::next_line(saved, &a);
    std::optional<std::string_view> y = engine::next_line(again, &b);
    if (!x && !y) break;
    if (x != y) {
      std::fprintf(stderr, "the saved store reads back changed at line %d:\n  [%.*s]\n  [%.*s]\n",
                   line, x ? static_cast<int>(x->size()) : 0, x ? x->data() : "",
                   y ? static_cast<int>(y->size()) : 0, y ? y->data() : "");
      return;
    }
  }
  std::fprintf(stderr, "the saved store reads back with other line ends\n");
}

void read_and_write(engine::engine_state& st, std::string_view text) {
  // The two sample types get a small transition table, so that no fg
  // functions file is needed; any other type ends the run.
  for (const char* type : {"VANTLE", "CLICK"}) {
    st.functions.set(type,
                     engine::parse_fg_functions(st.out, "0\n1\n1\n1,X1\n0\n0\n0\n0\n", "T.in"));
  }
  std::string saved;
  try {
    saved = store_text(st, text);
    st.hooks.cells_loaded();
  } catch (const engine::store_error&) {
    return;
  } catch (const formdecode::run_exit&) {
    return;
  }
  // No exception is caught here: the saved text must read. Each load
  // reverses the order of the cells and of their lists, so two more load
  // and save cycles give the saved text back.
  std::string second = store_text(st, saved);
  std::string third = store_text(st, second);
  if (third != saved) {
    report_difference(saved, third);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::text_of(data, size);
  {
    fuzz::sink s;
    site::orv_hooks hooks(s.out, "north");
    engine::engine_state st(s.out, engine::site_identity{"srv1", "north"}, {}, hooks);
    read_and_write(st, text);
  }
  {
    fuzz::sink s;
    cellkit::template_hooks hooks;
    engine::engine_state st(s.out, engine::site_identity{}, {}, hooks);
    st.codec.layout = engine::store_layout::counter;
    read_and_write(st, text);
  }
  return 0;
}
