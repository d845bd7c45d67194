#include "engine/store_fingerprint.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "engine/store_text.h"

namespace engine {
namespace {

constexpr std::uint64_t p1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t p2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t p3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t p4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t p5 = 0x27D4EB2F165667C5ULL;

constexpr std::uint64_t rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

constexpr std::uint64_t mix(std::uint64_t acc, std::uint64_t word) {
  acc += word * p2;
  acc = rotl(acc, 31);
  return acc * p1;
}

std::uint64_t word_at(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

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

}  // namespace

text_hash::text_hash() : lanes_{p1 + p2, p2, 0, 0ULL - p1} {}

void text_hash::stripe(const char* data) {
  for (int i = 0; i < 4; ++i) lanes_[i] = mix(lanes_[i], word_at(data + 8 * i));
}

void text_hash::add(std::string_view piece) {
  total_ += piece.size();
  if (buffered_ > 0) {
    const size_t take = std::min(sizeof buffer_ - buffered_, piece.size());
    std::memcpy(buffer_ + buffered_, piece.data(), take);
    buffered_ += take;
    piece.remove_prefix(take);
    if (buffered_ < sizeof buffer_) return;
    stripe(buffer_);
    buffered_ = 0;
  }
  // The lanes stay in registers over a long piece (a whole store): the
  // four are independent, so the processor works on them side by side.
  std::uint64_t a = lanes_[0], b = lanes_[1], c = lanes_[2], d = lanes_[3];
  const char* p = piece.data();
  const char* const end = p + piece.size() / sizeof buffer_ * sizeof buffer_;
  for (; p != end; p += sizeof buffer_) {
    a = mix(a, word_at(p));
    b = mix(b, word_at(p + 8));
    c = mix(c, word_at(p + 16));
    d = mix(d, word_at(p + 24));
  }
  lanes_[0] = a;
  lanes_[1] = b;
  lanes_[2] = c;
  lanes_[3] = d;
  piece.remove_prefix(static_cast<size_t>(end - piece.data()));
  std::memcpy(buffer_, piece.data(), piece.size());
  buffered_ = piece.size();
}

std::uint64_t text_hash::value() const {
  std::uint64_t h = rotl(lanes_[0], 1) + rotl(lanes_[1], 7) + rotl(lanes_[2], 12) +
                    rotl(lanes_[3], 18);
  for (std::uint64_t lane : lanes_) {
    h ^= mix(0, lane);
    h = h * p1 + p4;
  }
  h += total_;
  size_t i = 0;
  for (; i + 8 <= buffered_; i += 8) {
    h ^= mix(0, word_at(buffer_ + i));
    h = rotl(h, 27) * p1 + p4;
  }
  for (; i < buffered_; ++i) {
    h ^= static_cast<std::uint64_t>(static_cast<unsigned char>(buffer_[i])) * p5;
    h = rotl(h, 11) * p1;
  }
  h ^= h >> 33;
  h *= p2;
  h ^= h >> 29;
  h *= p3;
  h ^= h >> 32;
  return h;
}

bool store_fingerprint::matches(std::string_view text) const {
  if (text.size() != bytes) return false;
  text_hash h;
  h.add(text);
  return h.value() == hash;
}

std::string store_fingerprint::text() const {
  char hex[17];
  auto [end, ec] = std::to_chars(hex, hex + sizeof hex, hash, 16);
  (void)ec;
  std::string t;
  t.reserve(96 + read_in_full.size() * 8);
  t.append(first_line).append("\n");
  t.append(bytes_label).append(std::to_string(bytes)).append("\n");
  t.append(hash_label).append(hex, end).append("\n");
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
