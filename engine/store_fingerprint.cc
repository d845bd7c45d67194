#include "engine/store_fingerprint.h"

#include <charconv>

#include "engine/store_text.h"

namespace engine {
namespace {

constexpr std::string_view first_line = "file.ic fingerprint 1";
constexpr std::string_view bytes_label = "bytes: ";
constexpr std::string_view hash_label = "hash: ";
constexpr std::string_view cells_label = "cells: ";
constexpr std::string_view full_label = "read in full: ";

// The unsigned number that is all of `text`, in `base`.
template <class T>
std::optional<T> whole_number(std::string_view text, int base = 10) {
  T v{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

// A word of eight bytes, the first byte lowest.
std::uint64_t word_at(const char* p) {
  std::uint64_t w = 0;
  for (int k = 7; k >= 0; --k) w = (w << 8) | static_cast<unsigned char>(p[k]);
  return w;
}

}  // namespace

std::uint64_t text_hash(std::span<const std::string_view> pieces) {
  size_t size = 0;
  for (std::string_view p : pieces) size += p.size();
  std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ size;
  auto mix = [&h](std::uint64_t w) {
    h ^= w;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 32;
  };
  std::uint64_t part = 0;  // the bytes of a word begun in an earlier piece
  size_t held = 0;
  for (std::string_view p : pieces) {
    size_t i = 0;
    while (held > 0 && held < 8 && i < p.size()) {
      part |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i++])) << (8 * held++);
    }
    if (held == 8) {
      mix(part);
      part = 0;
      held = 0;
    }
    for (; i + 8 <= p.size(); i += 8) mix(word_at(p.data() + i));
    for (; i < p.size(); ++i) {
      part |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * held++);
    }
  }
  mix(part);
  mix(h >> 29);
  return h;
}

std::string hex_digits(std::uint64_t h) {
  static const char digits[] = "0123456789abcdef";
  std::string buf(16, '0');
  for (int k = 15; k >= 0; --k, h >>= 4) buf[static_cast<size_t>(k)] = digits[h & 15];
  return buf;
}

bool store_fingerprint::matches(std::string_view text) const {
  return text.size() == bytes && text_hash(text) == hash;
}

std::string store_fingerprint::text() const {
  std::string t;
  t.reserve(96 + read_in_full.size() * 8);
  t.append(first_line).append("\n");
  t.append(bytes_label).append(std::to_string(bytes)).append("\n");
  t.append(hash_label).append(hex_digits(hash)).append("\n");
  t.append(cells_label).append(std::to_string(cells)).append("\n");
  t.append(full_label).append(std::to_string(read_in_full.size())).append("\n");
  for (std::uint32_t block : read_in_full) t.append(std::to_string(block)).append("\n");
  return t;
}

std::optional<store_fingerprint> store_fingerprint::parse(std::string_view text) {
  size_t pos = 0;
  auto labelled = [&](std::string_view label) -> std::optional<std::string_view> {
    std::optional<std::string_view> line = next_line(text, &pos);
    if (!line || line->substr(0, label.size()) != label) return std::nullopt;
    return line->substr(label.size());
  };
  if (labelled(first_line) != std::string_view()) return std::nullopt;
  store_fingerprint f;
  std::optional<std::string_view> bytes = labelled(bytes_label);
  std::optional<std::string_view> hash = bytes ? labelled(hash_label) : std::nullopt;
  std::optional<std::string_view> cells = hash ? labelled(cells_label) : std::nullopt;
  std::optional<std::string_view> full = cells ? labelled(full_label) : std::nullopt;
  if (!full) return std::nullopt;
  std::optional<std::uint64_t> b = whole_number<std::uint64_t>(*bytes);
  std::optional<std::uint64_t> h = whole_number<std::uint64_t>(*hash, 16);
  std::optional<std::uint64_t> c = whole_number<std::uint64_t>(*cells);
  std::optional<std::uint64_t> n = whole_number<std::uint64_t>(*full);
  if (!b || !h || !c || !n || *n > *c) return std::nullopt;
  f.bytes = *b;
  f.hash = *h;
  f.cells = *c;
  f.read_in_full.reserve(*n);
  for (std::uint64_t i = 0; i < *n; ++i) {
    std::optional<std::string_view> line = next_line(text, &pos);
    std::optional<std::uint32_t> block =
        line ? whole_number<std::uint32_t>(*line) : std::nullopt;
    if (!block || *block >= *c) return std::nullopt;
    if (!f.read_in_full.empty() && *block <= f.read_in_full.back()) return std::nullopt;
    f.read_in_full.push_back(*block);
  }
  if (next_line(text, &pos)) return std::nullopt;
  return f;
}

}  // namespace engine
