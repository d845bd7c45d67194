// A site's `config.txt`, read and shown.
#include "fuzz/fuzz_util.h"
#include "site/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::sink s;
  try {
    site::site_config cfg = site::parse_config(std::string(fuzz::text_of(data, size)), s.out);
    site::show_config(cfg, s.out.pg());
  } catch (const formdecode::run_exit&) {
  }
  return 0;
}
