// The naming files: the input read as a `name_db`, as a `vantle_db` and as
// a counter file.
#include "fuzz/fuzz_util.h"
#include "site/naming.h"
#include "site/naming_counters.h"
#include "site/vantle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::text_of(data, size);
  std::string err;
  site::read_name_records(
      text, [](const site::name_record& rec) { return rec.symbolic_name == "stop"; }, &err);
  site::read_vantle_records(
      text, [](std::string_view name, std::string_view) { return name == "stop"; }, &err);
  site::counter_value(text, &err);
  return 0;
}
