#include "engine/store_fingerprint.h"

#include <bit>
#include <string>

#include "gtest/gtest.h"

namespace {

using engine::store_fingerprint;
using engine::text_hash;

std::uint64_t hash_of(std::initializer_list<std::string_view> pieces) {
  text_hash h;
  for (std::string_view p : pieces) h.add(p);
  return h.value();
}

TEST(TextHash, TheSameTextHowEverItIsCut) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "line " + std::to_string(i) + "\n";
  const std::uint64_t whole = hash_of({text});
  for (size_t cut : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{33}, size_t{200}}) {
    std::string_view t(text);
    EXPECT_EQ(whole, hash_of({t.substr(0, cut), t.substr(cut, 7), t.substr(cut + 7)})) << cut;
  }
}

TEST(TextHash, TheValueOfEarlierBuilds) {
  // A fingerprint on disk was written by an earlier build: the value of a
  // text must not change from one build to the next, or every store
  // would be read in full once more after an upgrade.
  if constexpr (std::endian::native != std::endian::little) GTEST_SKIP() << "values are per byte order";
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(0x2cc7967145520a13ULL, hash_of({std::string_view(text).substr(0, 5),
                                            std::string_view(text).substr(5)}));
}

TEST(TextHash, AnotherTextAnotherValue) {
  std::string a(100, 'x');
  std::string b = a;
  b[64] = 'y';
  EXPECT_NE(hash_of({a}), hash_of({b}));
  // Two stripes of 32 bytes swapped.
  std::string c = std::string(32, 'p') + std::string(32, 'q');
  std::string d = std::string(32, 'q') + std::string(32, 'p');
  EXPECT_NE(hash_of({c}), hash_of({d}));
  EXPECT_NE(hash_of({"ab"}), hash_of({"ab", std::string_view("\0", 1)})) << "a byte more";
}

TEST(StoreFingerprint, ReadsWhatItWritesAndMatchesItsText) {
  const std::string store = "id: 1\nic type: NOTE\n";
  store_fingerprint f;
  text_hash h;
  h.add(store);
  f.bytes = h.size();
  f.hash = h.value();
  f.cells = 5;
  f.read_in_full = {0, 3};
  std::optional<store_fingerprint> back = store_fingerprint::parse(f.text());
  ASSERT_TRUE(back);
  EXPECT_EQ(f.text(), back->text());
  EXPECT_EQ(f.read_in_full, back->read_in_full);
  EXPECT_TRUE(back->matches(store));
  EXPECT_FALSE(back->matches(store + "\n"));
  EXPECT_FALSE(back->matches("id: 2\nic type: NOTE\n"));
}

TEST(StoreFingerprint, AFileThatDoesNotReadIsNone) {
  store_fingerprint f;
  f.cells = 3;
  f.read_in_full = {1};
  const std::string good = f.text();
  ASSERT_TRUE(store_fingerprint::parse(good));
  EXPECT_FALSE(store_fingerprint::parse(""));
  EXPECT_FALSE(store_fingerprint::parse(good.substr(0, good.size() - 2))) << "cut short";
  EXPECT_FALSE(store_fingerprint::parse(good + "2\n")) << "more blocks than it says";
  std::string beyond = good;
  beyond.replace(beyond.rfind("1\n"), 2, "3\n");
  EXPECT_FALSE(store_fingerprint::parse(beyond)) << "a block the store does not have";
  std::string word = good;
  word.replace(word.find("bytes: 0"), 8, "bytes: x");
  EXPECT_FALSE(store_fingerprint::parse(word));
}

}  // namespace
