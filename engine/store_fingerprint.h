// The fingerprint a save writes beside the cell store: enough to tell that
// the store is still exactly the text that save wrote, and which of its
// blocks a load must still read in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

/// A 64-bit hash of a text given in pieces: the same text gives the same
/// value however it is cut. Every byte and its place count, so a text that
/// differs anywhere (a byte changed, lines swapped) gives another value
/// but by a chance of about one in 2^64. Words are taken in the machine's
/// byte order: the value is for this machine only.
class text_hash {
 public:
  text_hash();
  void add(std::string_view piece);
  std::uint64_t value() const;
  std::uint64_t size() const { return total_; }

 private:
  void stripe(const char* data);

  std::uint64_t lanes_[4];
  char buffer_[32] = {};
  size_t buffered_ = 0;
  std::uint64_t total_ = 0;
};

/// The fingerprint of one saved store.
struct store_fingerprint {
  std::uint64_t bytes = 0;  // the size of the store
  std::uint64_t hash = 0;   // `text_hash` of the store
  std::uint64_t cells = 0;  // its cell blocks
  // The blocks (0 for the first block of the text) whose saved text is
  // not known to be what a load and a save of them give, ascending: a load
  // reads them in full. Every other block is.
  std::vector<std::uint32_t> read_in_full;

  /// True when `text` is the store this fingerprint was taken of.
  bool matches(std::string_view text) const;

  /// The file's text.
  std::string text() const;
  /// The fingerprint a file's text holds; none when it does not read as
  /// `text` writes it.
  static std::optional<store_fingerprint> parse(std::string_view text);
};

}  // namespace engine
