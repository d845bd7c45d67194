// An fg functions file (the transitions of an IC type).
#include "engine/fg_reader.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::sink s;
  try {
    engine::parse_fg_functions(s.out, fuzz::text_of(data, size), "FUZZ.in");
  } catch (const formdecode::run_exit&) {
  }
  return 0;
}
