// A site's `site.config`, read and asked for every site's query sites.
#include "fuzz/fuzz_util.h"
#include "site/site_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string err;
  std::optional<site::site_table> t = site::site_table::parse(fuzz::text_of(data, size), &err);
  if (!t) return 0;
  for (int i = 0; i < t->count(); ++i) {
    t->near_sites(i, 9);
    t->find(t->name(i));
  }
  return 0;
}
