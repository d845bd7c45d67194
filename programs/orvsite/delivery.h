// What the sending and the receiving end of a delivery over SSH share: the
// header before each file, and the orv id as the transfer scripts read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvsite {

/// One file's header in a delivery: exactly `delivery_header_size` bytes,
/// "TRANSFER_ID SIZE" padded with spaces and ended by a newline.
inline constexpr std::size_t delivery_header_size = 256;

struct delivery_header {
  std::string id;
  std::int64_t size = 0;
};

/// The header before the file `id` of `size` bytes.
std::string format_delivery_header(std::string_view id, std::int64_t size);

/// The header of one file, or nothing when `bytes` is not one: not
/// `delivery_header_size` bytes ending in a newline, an id that is empty,
/// hidden or holds other characters than letters, digits and _ . -, a
/// size of no digits or more than 15, or anything but spaces after it.
std::optional<delivery_header> parse_delivery_header(std::string_view bytes);

/// A session that carries one delivery after another (the command
/// `orv-deliver-batches`) ends each with this record in place of a header:
/// the receiver links in what came, answers one line per file as ever,
/// then `batch_done` and a newline, and waits for the next delivery.
std::string batch_end_record();
inline constexpr std::string_view batch_done = "batch done";

/// The lines of `s` as the shell's `read` takes them: split at line feeds
/// only (a carriage return stays part of its line); a last line without a
/// line feed is a line.
std::vector<std::string_view> shell_lines(std::string_view s);

/// The orv id of the first "orv id:" line of the config.txt `path`, as the
/// transfer scripts read it: one control character at the line's end
/// dropped, the blanks after the colon skipped, up to the next blank.
/// Empty when there is none or the file cannot be read.
std::string transfer_orv_id(const std::string& path);

}  // namespace orvsite
