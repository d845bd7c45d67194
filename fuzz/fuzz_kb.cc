// A site's `kb.txt`; the words of the text itself are then matched and
// grouped against the trees read from it.
#include "fuzz/fuzz_util.h"
#include "site/keywords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::text_of(data, size);
  std::string err;
  std::optional<site::knowledge_base> kb = site::parse_knowledge_base(text, &err);
  if (!kb) return 0;
  std::string_view words = text.substr(0, 200);
  site::keyword_match(kb->keywords, words, words, 2);
  fuzz::sink s;
  site::group_of_list(kb->groups, site::split_words(words), s.out);
  return 0;
}
