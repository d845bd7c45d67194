// Reading, writing, picking up and sending message files.
#include "exchange/exchange.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "engine/store_text.h"
#include "platform/platform.h"
#include "platform/site_file.h"
#include "text/text.h"

namespace exchange {
namespace {

// Lines of a message file before the content.
constexpr int header_lines = 19;

// Widest text a fixed field holds; the symbolic name holds one more.
constexpr size_t field_width = engine::max_name_length;
constexpr size_t sym_name_width = engine::max_name_length + 1;

// Most sequence numbers tried within one second before giving up.
constexpr int max_sequence_tries = 100000;

void put_number(std::string& file, long long v) {
  file += std::to_string(v);
  file += '\n';
}

void put_text(std::string& file, const std::string& text) {
  // A line end inside would shift every later line of the file.
  file += text::line_ends_as_blanks(text);
  file += '\n';
}

void put_name(std::string& file, const engine::ic_sys_name& n) {
  put_text(file, n.server_id);
  put_text(file, n.orv_id);
  put_text(file, n.ic_type);
  put_number(file, n.ic_id);
  file += n.flag;  // exactly as stored, the zero character too
  file += '\n';
}

std::string cut(std::string_view text, size_t width) {
  return std::string(text.substr(0, std::min(text.size(), width)));
}

char first_char(std::string_view line) { return line.empty() ? '\0' : line[0]; }

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (text::lower(text[i]) != text::lower(prefix[i])) return false;
  }
  return true;
}

// Moves the incoming file `path` out of `inbox` into `held_dir`, so it is
// certain that it can be removed once its message has taken effect. False,
// with a line on the page, when it cannot be moved: then it is not processed.
bool take_out(const platform::site_dir& dir, const std::string& path, formdecode::output& out) {
  std::string err;
  platform::make_directory(dir.at(held_dir));
  if (platform::rename_file(dir.at(path), dir.at(held_path(path)), &err)) return true;
  out.both("Error: The incoming file %s cannot be taken out of inbox (%s); it is not "
           "processed.\n<p>",
           path, err);
  return false;
}

// Replaces the content file that a picked-up message names (content_flag
// -1) by its text. Only a plain file of `inbox` may be named: a remote site
// must never make this site read or remove one of its own files. False when
// the content file cannot be taken out of `inbox`.
bool take_content_file(exchange_state& ex, engine::ext_message& m, formdecode::output& out) {
  std::string name = m.content.value_or("");
  m.content_flag = engine::CONTENT_TEXT;
  m.content.reset();
  if (!is_plain_name(name)) {
    out.pg().print(
        "Error: The content file %s of the message is not a file in the directory inbox; "
        "the message has no content.\n<p>",
        name);
    return true;
  }
  std::string path = std::string(inbox_dir) + "/" + name;
  std::string why;
  std::optional<std::string> text =
      platform::read_site_file(ex.dir.at(path), &why, message_file_limit);
  ex.dir.as_inside(&why);
  if (!text) {
    out.pg().print(
        "Error: Can't open the content file \"%s\" in the directory inbox; the message has "
        "no content.\n<p>",
        path);
    return true;
  }
  // Removed with the message file, once the store holding the effect is saved.
  if (ex.seen.insert(path).second) {
    if (!take_out(ex.dir, path, out)) return false;
    ex.taken.push_back(path);
  }
  if (!text->empty()) m.content = std::move(*text);
  return true;
}

// The sender of the incoming file `path` holding message `m`: by the
// transfer's sender record first, then by the delivery marks, else by the
// message.
std::optional<std::string> sender_of(exchange_state& ex, const std::string& path,
                                     std::string_view text, const engine::ext_message& m,
                                     const std::string& self) {
  if (!ex.marks_listed) {
    ex.marks = platform::list_file_names(ex.dir.at(delivery_marks_dir));
    ex.marks_listed = true;
  }
  const std::string name = path.substr(path.rfind('/') + 1);
  std::optional<std::string> s = sender_by_record(name, ex.dir);
  if (!s) s = sender_by_marks(name, ex.marks, content_hash(text));
  return s ? s : sender_by_message(m, self);
}

}  // namespace

std::string content_hash(std::string_view text) {
  static constexpr std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  // The text, a 1 bit, zeros, and its length in bits: whole blocks of 64 bytes.
  std::string data(text);
  const std::uint64_t bits = static_cast<std::uint64_t>(text.size()) * 8;
  data += static_cast<char>(0x80);
  while (data.size() % 64 != 56) data += '\0';
  for (int i = 7; i >= 0; --i) data += static_cast<char>((bits >> (8 * i)) & 0xff);
  for (size_t at = 0; at < data.size(); at += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = 0;
      for (int j = 0; j < 4; ++j) {
        w[i] = (w[i] << 8) | static_cast<unsigned char>(data[at + 4 * i + j]);
      }
    }
    for (int i = 16; i < 64; ++i) {
      std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], x = h[7];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t t1 =
          x + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      x = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += x;
  }
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 4; ++i) {  // 32 hex digits: the first 16 bytes
    for (int shift = 28; shift >= 0; shift -= 4) hex += digits[(h[i] >> shift) & 0xf];
  }
  return hex;
}

bool is_for_site(std::string_view name, std::string_view orv_id) {
  return !orv_id.empty() && starts_with_ignoring_case(name, orv_id);
}

std::optional<std::string> sender_by_marks(const std::string& name,
                                           const std::vector<std::string>& marks,
                                           std::string_view hash) {
  std::string base = name;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size() &&
      name.find_first_not_of("0123456789", dot + 1) == std::string::npos) {
    base = name.substr(0, dot);
  }
  std::string sender;
  std::string by_hash;  // the sender of a matching mark with the file's hash
  bool several = false;
  for (const std::string& mark : marks) {
    size_t first = mark.find('.'), last = mark.rfind('.');
    if (first == std::string::npos || first == last) continue;
    std::string sent_as = mark.substr(first + 1, last - first - 1);
    if (sent_as != name && sent_as != base) continue;
    std::string from = mark.substr(0, first);
    if (!hash.empty() && std::string_view(mark).substr(last + 1) == hash) by_hash = from;
    several = several || (!sender.empty() && sender != from);
    sender = from;
  }
  if (several) sender = by_hash;
  if (sender.empty()) return std::nullopt;
  return sender;
}

std::optional<std::string> sender_by_record(const std::string& name,
                                            const platform::site_dir& dir) {
  if (!is_plain_name(name)) return std::nullopt;
  std::string why;
  std::optional<std::string> text =
      platform::read_site_file(dir.at(std::string(sender_records_dir) + "/" + name), &why, 256);
  if (!text) return std::nullopt;
  std::string id = *text;
  while (!id.empty() && text::is_space(id.back())) id.pop_back();
  if (id.empty() || id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789_-") != std::string::npos) {
    return std::nullopt;
  }
  return id;
}

std::optional<std::string> sender_by_message(const engine::ext_message& m,
                                             const std::string& self) {
  if (m.sender.flag != 's' || m.sender.orv_id.empty() || m.sender.orv_id == self) {
    return std::nullopt;
  }
  return m.sender.orv_id;
}

void note_refused(exchange_state& ex, const std::vector<std::string>& files, std::string_view why) {
  if (files.empty()) return;
  for (incoming_file& f : ex.incoming) {
    if (f.path != files[0]) continue;
    f.refused = true;
    f.why = std::string(why);
  }
}

bool is_plain_name(std::string_view name) {
  return !name.empty() && name.find_first_of("/\\") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

std::string format_message_file(const engine::ext_message& m) {
  std::string file;
  put_number(file, m.kind);
  put_number(file, m.pid);
  put_number(file, m.flag);
  put_number(file, m.reserved);
  put_number(file, m.msg_type);
  put_text(file, m.msg_type_name);
  put_text(file, m.ic_type);
  put_text(file, m.ic_sym_name);
  put_name(file, m.sender);
  put_name(file, m.receiver);
  put_number(file, m.content_flag);
  file += m.content.value_or("");
  file += '\n';
  return file;
}

std::optional<engine::ext_message> parse_message_file(std::string_view text) {
  return parse_message_file(text, nullptr);
}

std::optional<engine::ext_message> parse_message_file(std::string_view text, std::string* err) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (lines.size() < header_lines && pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
  }
  if (lines.size() < header_lines) {
    if (err) {
      *err = "line " + std::to_string(lines.size() + 1) + ": the file ends before the " +
             std::to_string(header_lines) + " lines before the content";
    }
    return std::nullopt;
  }

  std::int32_t numbers[8];
  const int number_lines[8] = {0, 1, 2, 3, 4, 11, 16, 18};
  for (int i = 0; i < 8; ++i) {
    std::optional<std::int32_t> v = engine::parse_int(lines[number_lines[i]]);
    if (!v) {
      if (err) {
        *err = "line " + std::to_string(number_lines[i] + 1) + ": \"" +
               std::string(lines[number_lines[i]]) + "\" is not a decimal number";
      }
      return std::nullopt;
    }
    numbers[i] = *v;
  }

  engine::ext_message m;
  m.kind = numbers[0];
  m.pid = numbers[1];
  m.flag = numbers[2];
  m.reserved = numbers[3];
  m.msg_type = numbers[4];
  m.msg_type_name = cut(lines[5], field_width);
  m.ic_type = cut(lines[6], field_width);
  m.ic_sym_name = cut(lines[7], sym_name_width);
  m.sender = {cut(lines[8], field_width), cut(lines[9], field_width), cut(lines[10], field_width),
              numbers[5], first_char(lines[12])};
  m.receiver = {cut(lines[13], field_width), cut(lines[14], field_width),
                cut(lines[15], field_width), numbers[6], first_char(lines[17])};
  m.content_flag = numbers[7];

  // The content: everything after line 19, with its inner line feeds; line
  // ends written as carriage return and line feed read as line feeds, and
  // blanks and line ends at the very end are dropped.
  std::string content;
  content.reserve(text.size() - pos);
  for (size_t i = pos; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    content += text[i];
  }
  while (!content.empty() &&
         (content.back() == ' ' || content.back() == '\n' || content.back() == '\r')) {
    content.pop_back();
  }
  if (!content.empty()) m.content = std::move(content);
  return m;
}

std::optional<engine::ext_message> read_message_file(const std::string& path,
                                                     formdecode::output& out,
                                                     const platform::site_dir& dir) {
  std::string why;
  std::optional<std::string> text =
      platform::read_site_file(dir.at(path), &why, message_file_limit);
  dir.as_inside(&why);
  if (!text) {
    out.pg().print("Error: Can't open the \"%s\" file in the directory inbox.\n<p>", path);
    return std::nullopt;
  }
  std::optional<engine::ext_message> m = parse_message_file(*text);
  if (!m) {
    out.pg().print("Error: The file \"%s\" in the directory inbox does not hold a message.\n<p>",
                   path);
  }
  return m;
}

std::optional<std::string> write_outgoing_message(exchange_state& ex,
                                                  const engine::ext_message& m,
                                                  const std::string& orv_id,
                                                  formdecode::output& out) {
  return write_outgoing_message_at(ex, m, orv_id, platform::now_seconds(), out);
}

std::optional<std::string> write_outgoing_message_at(exchange_state& ex,
                                                     const engine::ext_message& m,
                                                     const std::string& orv_id,
                                                     std::int64_t now, formdecode::output& out) {
  int sequence = (now == ex.last_time) ? ex.sequence + 1 : 0;
  const std::string prefix = std::string(outbox_dir) + "/";
  auto path_for = [&](int seq) {
    return prefix + orv_id + std::to_string(now) + std::to_string(seq);
  };
  // An orv id with a path in it would put the file somewhere else.
  if (!is_plain_name(orv_id)) {
    out.pg().print("Error: Can't open file %s in the directory outbox.\n<p>", path_for(sequence));
    return std::nullopt;
  }

  const std::string file = format_message_file(m);
  if (ex.stage_outgoing) platform::make_directory(ex.dir.at(staging_dir));
  for (int tries = 0;; ++tries, ++sequence) {
    std::string path = path_for(sequence);
    // A staged file waits beside `outbox` under the name it will have there.
    std::string target =
        ex.stage_outgoing ? std::string(staging_dir) + path.substr(prefix.size() - 1) : path;
    std::string err;
    bool free = target == path || !platform::exists(ex.dir.at(path));
    if (free &&
        platform::create_file_exclusive_via(ex.dir.at(target), ex.dir.at(aside_dir), file, &err)) {
      ex.last_time = now;
      ex.sequence = sequence;
      out.pg().print(
          "\n<p>*** This virtual site sends an outgoing message <br>\n in file %s%ld%d <p>",
          orv_id, static_cast<long long>(now), sequence);
      return path;
    }
    // A taken name (an earlier run of the same second) moves on to the next
    // number; any other failure loses the message, as it cannot be written.
    if ((!platform::exists(ex.dir.at(path)) && !platform::exists(ex.dir.at(target))) ||
        tries >= max_sequence_tries) {
      out.pg().print("Error: Can't open file %s in the directory outbox.\n<p>", path);
      return std::nullopt;
    }
  }
}

std::optional<engine::ext_message> pick_up_message(exchange_state& ex, const std::string& orv_id,
                                                   formdecode::output& out) {
  // The listing of `inbox`; a directory that cannot be listed reports as
  // the listing file did when it could not be opened.
  if (!platform::is_directory(ex.dir.at(inbox_dir))) {
    out.pg().write("Error: Can't open the \"tmp\" file for the directory inbox.\n<p>");
    return std::nullopt;
  }
  for (;;) {
    if (ex.pass_at >= ex.pass.size()) {
      // A new pass: the files that came since the last listing.
      ex.pass.clear();
      ex.pass_at = 0;
      for (std::string& name : platform::list_files_oldest_first(ex.dir.at(inbox_dir))) {
        if (!is_for_site(name, orv_id)) continue;
        if (ex.seen.count(std::string(inbox_dir) + "/" + name)) continue;
        ex.pass.push_back(std::move(name));
      }
      if (ex.pass.empty()) return std::nullopt;
    }
    std::string path = std::string(inbox_dir) + "/" + ex.pass[ex.pass_at++];
    if (!ex.seen.insert(path).second) continue;  // a content file taken meanwhile
    std::string why;
    std::optional<std::string> text =
        platform::read_site_file(ex.dir.at(path), &why, message_file_limit);
    ex.dir.as_inside(&why);
    if (!text && !why.empty() && why.find("not a plain file") == std::string::npos) {
      // Too big, or unreadable: set aside unread rather than met again at
      // every pick-up.
      out.pg().print("Error: Can't open the \"%s\" file in the directory inbox.\n<p>", path);
      ex.incoming.push_back({path, std::nullopt, true, why, ""});
      continue;
    }
    if (!text) {
      out.pg().print("Error: Can't open the \"%s\" file in the directory inbox.\n<p>", path);
      continue;
    }
    std::optional<engine::ext_message> m = parse_message_file(*text);
    if (!m) {
      ex.incoming.push_back({path, std::nullopt, true, "it does not hold a message", ""});
      reject_incoming(path, "it does not hold a message", out, &ex.incoming.back().said, ex.dir);
      continue;
    }
    ex.incoming.push_back({path, sender_of(ex, path, *text, *m, orv_id), false, "", ""});
    if (!take_out(ex.dir, path, out)) {
      ex.incoming.back().refused = true;
      ex.incoming.back().why = "it cannot be taken out of inbox";
      ++ex.refused;
      continue;
    }
    out.pg().print("<p>\nPick up an incoming message from file: %s\n<p>", path);
    ex.taken.push_back(path);
    if (m->content_flag == engine::CONTENT_FILE && !take_content_file(ex, *m, out)) {
      // Without its content file the message is not processed either.
      ex.taken.pop_back();
      std::string err;
      if (!platform::rename_file(ex.dir.at(held_path(path)), ex.dir.at(path), &err)) {
        out.both("Error: The incoming file %s cannot be put back into inbox (%s).\n<p>", path,
                 err);
      }
      ex.incoming.back().refused = true;
      ex.incoming.back().why = "its content file cannot be taken out of inbox";
      ++ex.refused;
      continue;
    }
    return m;
  }
}

std::string held_path(const std::string& path) {
  return std::string(held_dir) + "/" + path.substr(path.rfind('/') + 1);
}

void reject_incoming(const std::string& path, std::string_view why, formdecode::output& out,
                     std::string* said, const platform::site_dir& dir) {
  platform::make_directory(dir.at(rejected_dir));
  std::string name = path.substr(path.rfind('/') + 1);
  std::string target = std::string(rejected_dir) + "/" + name;
  // A taken file is set aside from where it waits.
  std::string from = platform::exists(dir.at(held_path(path))) ? held_path(path) : path;
  // An earlier file of the same name keeps its place.
  bool moved = false;
  for (int n = 1; n <= max_sequence_tries; ++n) {
    moved = platform::move_file_exclusive(dir.at(from), dir.at(target));
    // Only a taken name is worth another try.
    if (moved || !platform::exists(dir.at(from)) || !platform::exists(dir.at(target))) break;
    target = std::string(rejected_dir) + "/" + name + "." + std::to_string(n);
  }
  const char* line =
      moved ? "Error: The incoming file %s cannot be processed: %s; it is moved to %s.\n<p>"
            : "Error: The incoming file %s cannot be processed: %s; it cannot be moved to "
              "%s.\n<p>";
  out.both(line, path, why, rejected_dir);
  if (said) {
    *said = formdecode::format(line, {path, why, rejected_dir}, false);
    *said = said->substr(0, said->find('\n'));
  }
}

void reject_message(const std::vector<std::string>& files, std::string_view why,
                    formdecode::output& out, std::string* said, const platform::site_dir& dir) {
  if (files.empty()) return;
  // The message file goes first: a run killed in between leaves at most a
  // content file nothing names, whereas the other order could let the next
  // pick-up process the message without its content.
  reject_incoming(files[0], why, out, said, dir);
  for (size_t i = 1; i < files.size(); ++i) {
    reject_incoming(files[i], "it is the content file of " + files[0], out, nullptr, dir);
  }
}

void remove_taken(exchange_state& ex) {
  for (const std::string& path : ex.taken) {
    platform::remove_file(ex.dir.at(held_path(path)));
    // Its sender record is of no more use, and must not speak for a later
    // file of the same name.
    platform::remove_file(ex.dir.at(std::string(sender_records_dir) + "/" +
                                    path.substr(path.rfind('/') + 1)));
  }
  ex.taken.clear();
}

void return_held(const platform::site_dir& dir) {
  for (const std::string& name : platform::list_file_names(dir.at(held_dir))) {
    std::string from = std::string(held_dir) + "/" + name;
    std::string to = std::string(inbox_dir) + "/" + name;
    // The get script may have fetched a file of the same name meanwhile;
    // only a taken name is worth another try.
    for (int n = 1;
         !platform::move_file_exclusive(dir.at(from), dir.at(to)) && n <= max_sequence_tries; ++n) {
      if (!platform::exists(dir.at(from)) || !platform::exists(dir.at(to))) break;
      to = std::string(inbox_dir) + "/" + name + "." + std::to_string(n);
    }
  }
}

void remove_held(const platform::site_dir& dir) {
  for (const std::string& name : platform::list_file_names(dir.at(held_dir))) {
    platform::remove_file(dir.at(std::string(held_dir) + "/" + name));
  }
}

void publish_staged(const platform::site_dir& dir) {
  for (const std::string& name : platform::list_files_oldest_first(dir.at(staging_dir))) {
    std::string from = std::string(staging_dir) + "/" + name;
    std::string to = std::string(outbox_dir) + "/" + name;
    // The name was free in `outbox` when the file was written, under the
    // run lock; should it be taken after all, the file gets a suffix.
    for (int n = 1;
         !platform::move_file_exclusive(dir.at(from), dir.at(to)) && n <= max_sequence_tries; ++n) {
      if (!platform::exists(dir.at(from))) break;
      to = std::string(outbox_dir) + "/" + name + "_" + std::to_string(n);
    }
  }
}

void discard_staged(const platform::site_dir& dir) {
  for (const std::string& name : platform::list_files_oldest_first(dir.at(staging_dir))) {
    platform::remove_file(dir.at(std::string(staging_dir) + "/" + name));
  }
}

std::vector<std::string> send_outgoing_messages(formdecode::output& out,
                                                const platform::script_place& script,
                                                const platform::site_dir& dir) {
  if (!platform::is_directory(dir.at(outbox_dir))) {
    out.pg().write("Error: Can't open the \"temp\" file for the directory outbox.\n<p>");
    return {};
  }
  std::vector<std::string> files = platform::list_files_oldest_first(dir.at(outbox_dir));
  for (const std::string& name : files) out.pg().print("Send the outgoing message: %s<br>\n", name);
  if (files.empty()) {
    out.pg().write("There is no outgoing message.\n");
    // A put script killed after it took a file out of outbox left it in
    // its own folder, and only the put script knows how far it got.
    std::vector<std::string> cut = platform::list_files_oldest_first(dir.at(cut_send_dir));
    if (cut.empty()) return files;
    for (const std::string& name : cut) {
      out.pg().print("Finish the send cut short of: %s<br>\n", name);
    }
  }
  platform::run_site_script(put_script, script);
  return files;
}

}  // namespace exchange
