// The fingerprint a save writes beside the cell store: enough to tell that
// the store is still exactly the text that save wrote, and which of its
// blocks a load must still read in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

/// A 64-bit hash of a text given in pieces: the pieces give the hash of the
/// whole, however it is cut. Eight bytes at a time, mixed by
/// multiplication, with the size first; a text that differs anywhere gives
/// another value but by a chance of about one in 2^64. The value stays the
/// same across versions of the program (the run journal keeps such values
/// across a killed run); words are taken in little-endian order.
std::uint64_t text_hash(std::span<const std::string_view> pieces);
inline std::uint64_t text_hash(std::string_view text) { return text_hash({&text, 1}); }

/// `h` as 16 lower-case hexadecimal digits.
std::string hex_digits(std::uint64_t h);

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
