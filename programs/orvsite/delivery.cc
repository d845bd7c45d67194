// The header of a delivery's files, and the orv id the transfer reads.
#include "programs/orvsite/delivery.h"

#include "platform/files.h"
#include "text/text.h"

namespace orvsite {

std::string format_delivery_header(std::string_view id, std::int64_t size) {
  std::string header = std::string(id) + " " + std::to_string(size);
  if (header.size() < delivery_header_size - 1) {
    header.append(delivery_header_size - 1 - header.size(), ' ');
  }
  return header + "\n";
}

std::string batch_end_record() {
  // Never a header: no size follows the first space.
  std::string record = "-- end of batch";
  record.append(delivery_header_size - 1 - record.size(), ' ');
  return record + "\n";
}

std::optional<delivery_header> parse_delivery_header(std::string_view bytes) {
  if (bytes.size() != delivery_header_size || bytes.back() != '\n') return std::nullopt;
  bytes.remove_suffix(1);
  size_t space = bytes.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  std::string_view id = bytes.substr(0, space);
  std::string_view rest = bytes.substr(space + 1);
  std::string_view size = rest.substr(0, rest.find(' '));
  std::string_view pad = rest.substr(size.size());
  bool plain = !id.empty() && !id.starts_with('.');
  for (char c : id) {
    plain = plain && (text::is_alnum(c) || c == '_' || c == '.' || c == '-');
  }
  if (!plain || size.size() > 15 || !text::all_digits(size)) return std::nullopt;
  if (pad.find_first_not_of(' ') != std::string_view::npos) return std::nullopt;
  std::optional<std::int64_t> n = text::parse_number<std::int64_t>(size, 0, 999999999999999);
  if (!n) return std::nullopt;
  return delivery_header{std::string(id), *n};
}

std::vector<std::string_view> shell_lines(std::string_view s) {
  std::vector<std::string_view> lines;
  while (!s.empty()) {
    size_t e = s.find('\n');
    lines.push_back(s.substr(0, e));
    s = e == std::string_view::npos ? std::string_view() : s.substr(e + 1);
  }
  return lines;
}

std::string transfer_orv_id(const std::string& path) {
  std::optional<std::string> data = platform::read_file(path);
  if (!data) return "";
  for (std::string_view line : shell_lines(*data)) {
    if (!line.starts_with("orv id:")) continue;
    unsigned char last = static_cast<unsigned char>(line.back());  // (the label is there)
    if (last < 0x20 || last == 0x7f) line.remove_suffix(1);
    line.remove_prefix(7);
    while (line.starts_with(' ')) line.remove_prefix(1);
    return std::string(line.substr(0, line.find(' ')));
  }
  return "";
}

}  // namespace orvsite
