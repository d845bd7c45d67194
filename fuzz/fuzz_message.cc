// An incoming message file, read and written again.
#include "exchange/exchange.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<engine::ext_message> m = exchange::parse_message_file(fuzz::text_of(data, size));
  if (m) exchange::format_message_file(*m);
  return 0;
}
