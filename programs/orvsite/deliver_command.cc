// `orvsite deliver`: a delivery staged and linked into inbox in one
// process. Every rule here is also in orv_ssh_link.sh (which receives where
// orvsite is not installed, and links in what older senders copied with
// rsync); a change to one belongs in the other.
#include "programs/orvsite/deliver_command.h"

#include <algorithm>
#include <csignal>
#include <utility>
#include <vector>

#include "exchange/exchange.h"
#include "platform/files.h"
#include "platform/process.h"
#include "programs/orvsite/site_files.h"
#include "text/text.h"

namespace orvsite {
namespace {

constexpr const char* me = "orvsite deliver";

bool plain_id_char(char c) { return text::is_alnum(c) || c == '_' || c == '-'; }

// Letters, digits, _ and - only (and not empty): an orv id.
bool plain_orv_id(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!plain_id_char(c)) return false;
  }
  return true;
}

// Letters, digits and _ . - only: a transfer id or a message file name.
bool plain_name(std::string_view s) {
  for (char c : s) {
    if (!plain_id_char(c) && c != '.') return false;
  }
  return true;
}

// The first two words of a line (blanks between them).
std::pair<std::string_view, std::string_view> two_words(std::string_view line) {
  auto word = [&line]() {
    while (!line.empty() && text::is_blank(line.front())) line.remove_prefix(1);
    size_t end = 0;
    while (end < line.size() && !text::is_blank(line[end])) ++end;
    std::string_view w = line.substr(0, end);
    line.remove_prefix(end);
    return w;
  };
  std::string_view first = word();
  return {first, word()};
}

bool is_plain_file(const std::string& path) {
  std::optional<platform::file_info> st = platform::stat_file(path);
  return st && st->kind == platform::entry_kind::file;
}

// This site's orv id (lower case), from its config.txt.
std::string read_orv_id(const std::string& html) {
  std::string config = join(html, "config.txt");
  return is_plain_file(config) ? text::lower(transfer_orv_id(config)) : "";
}

std::string now_text() { return utc_text(platform::now_seconds(), "%Y-%m-%dT%H:%M:%SZ"); }

// One delivery to one site: what the run learnt so far.
struct delivery {
  std::string html, staging, inbox, records;
  std::string self, peer;
  staging_limits limits;
  std::ostream& out;
  std::ostream& err;

  // Added to the site's record of refusals, which the exchange log reports.
  void note_refusal(const std::string& line) {
    std::string why;
    platform::append_file(join(records, "refused"), line + " (" + now_text() + ")\n", &why);
  }

  void refuse(const std::string& id, const std::string& why) {
    platform::remove_tree(join(staging, id));
    out << "refused " << id << " " << why << "\n";
    note_refusal(id + ": " + why);
  }

  void drop(const std::string& id, const char* answer) {
    platform::remove_tree(join(staging, id));
    out << answer << " " << id << "\n";
  }
};

struct staged_file {
  std::string id;
  std::int64_t size = 0;
};

// How the reading of a delivery ended.
enum class delivery_end {
  input,    // at the end of the input, between two files
  batch,    // at the end of one delivery of several in one session
  stopped,  // anywhere else: what follows in the input cannot be read
};

// The files of the delivery on `in`, each read into staging under its
// transfer id (through a hidden name, so that no reader sees half a file).
// It stops at the end (of the input, or of the batch when `batches`), at
// the first header that is not one, at a file past the limits (refused
// unread) and at a file cut off; `*how` tells which.
std::vector<staged_file> read_delivery(delivery& d, std::istream& in, bool batches,
                                       delivery_end* how) {
  *how = delivery_end::stopped;
  const std::string batch_end = batch_end_record();
  std::vector<staged_file> staged;
  std::int64_t taken = 0;
  std::string header(delivery_header_size, '\0');
  std::string body;
  for (;;) {
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    std::streamsize got = in.gcount();
    if (got == 0) {  // the end of the delivery
      *how = delivery_end::input;
      break;
    }
    if (batches && header == batch_end) {
      *how = delivery_end::batch;
      break;
    }
    std::optional<delivery_header> h =
        parse_delivery_header(std::string_view(header.data(), static_cast<size_t>(got)));
    if (!h) {
      d.err << me << ": the delivery holds no header where one belongs: it ends there\n";
      break;
    }
    if (static_cast<std::int64_t>(staged.size()) >= d.limits.files) {
      std::string max = std::to_string(d.limits.files);
      d.out << "refused " << h->id << " more than " << max << " files in one delivery\n";
      d.note_refusal("a delivery of more than " + max + " files: only the first " + max +
                     " are taken");
      break;
    }
    if (h->size > d.limits.bytes - taken) {
      std::string why = std::to_string(h->size) + " bytes, over the staging limit of " +
                        std::to_string(d.limits.bytes) + " bytes";
      d.out << "refused " << h->id << " " << why << "\n";
      d.note_refusal(h->id + ": " + why);
      break;
    }
    body.resize(static_cast<size_t>(h->size));
    in.read(body.data(), static_cast<std::streamsize>(body.size()));
    if (in.gcount() != static_cast<std::streamsize>(body.size())) {
      d.out << "bad " << h->id << "\n";  // cut off: the sender sends it again
      break;
    }
    std::string part = join(d.staging, ".deliver." + std::to_string(platform::process_id()) + "." +
                                            std::to_string(staged.size()));
    std::string why;
    if (!platform::replace_file(part, body, &why)) {
      d.err << me << ": " << why << "\n";
      break;
    }
    // Renamed over a staged file of that id, never into a directory of it.
    if (!platform::rename_file(part, join(d.staging, h->id), &why)) {
      platform::remove_file(part);
      d.out << "bad " << h->id << "\n";
      continue;
    }
    taken += h->size;
    staged.push_back({h->id, h->size});
  }
  return staged;
}

// Links the staged file `f` into inbox, or drops it with the reason.
// False when inbox cannot be written at all.
bool link_in(delivery& d, const staged_file& f, std::int64_t* bytes) {
  const std::string& id = f.id;
  std::string staged = join(d.staging, id);
  size_t first_dot = id.find('.');
  size_t last_dot = id.rfind('.');
  // SENDER.NAME.HASH: two dots at least, and a name between them.
  if (first_dot == std::string::npos || first_dot == last_dot) {
    d.drop(id, "bad");
    return true;
  }
  std::string sender = id.substr(0, first_dot);
  std::string name = id.substr(first_dot + 1, last_dot - first_dot - 1);
  std::string hash = id.substr(last_dot + 1);
  // The name must stay a message file name in inbox: not hidden, not "."
  // or "..", nothing a sender does not write.
  if (name.empty() || name.starts_with('.') || !plain_name(name)) {
    d.drop(id, "bad");
    return true;
  }
  if (!plain_orv_id(sender)) {
    d.refuse(id, "the sender is no plain orv id");
    return true;
  }
  std::string lsender = text::lower(sender);
  std::string lname = text::lower(name);
  if (!d.peer.empty() && lsender != d.peer) {
    d.refuse(id, "sent with the key of " + d.peer + " under the orv id " + sender);
    return true;
  }
  if (!lname.starts_with(d.self) || !text::all_digits(std::string_view(lname).substr(d.self.size()))) {
    d.refuse(id, name + " is no message file name for " + d.self);
    return true;
  }
  if (hash.size() != 32 || hash.find_first_not_of("0123456789abcdef") != std::string::npos) {
    d.drop(id, "bad");
    return true;
  }
  if (platform::exists(join(join(d.records, "done"), id))) {
    d.drop(id, "known");
    return true;
  }
  std::optional<platform::file_info> st = platform::stat_file(staged);
  if (!st) {
    d.out << "missing " << id << "\n";
    return true;
  }
  if (st->kind != platform::entry_kind::file) {
    d.refuse(id, "not a plain file");
    return true;
  }
  if (f.size > d.limits.bytes - *bytes) {
    d.refuse(id, std::to_string(f.size) + " bytes, over the staging limit of " +
                     std::to_string(d.limits.bytes) + " bytes");
    return true;
  }
  // The staged copy is read again: another sender may have replaced it
  // since this run wrote it.
  std::optional<std::string> content = platform::read_file(staged);
  if (!content || exchange::content_hash(*content) != hash) {
    d.drop(id, "bad");
    return true;
  }
  *bytes += f.size;
  // The next free name (NAME, NAME.1, ...): a name taken by anything, a
  // directory included, is skipped, and each name gets its sender record
  // before the file can be picked up under it.
  std::string dest = name;
  for (int n = 1;; ++n) {
    std::string at = join(d.inbox, dest);
    if (!platform::exists(at)) {
      std::string why;
      bool recorded = platform::replace_file(join(join(d.records, "from"), dest), sender + "\n",
                                             &why, false);
      int linked = recorded ? platform::link_file(staged, at) : -1;
      if (linked == 0) break;
      if (!platform::exists(at)) {  // not taken meanwhile: inbox cannot be written
        d.err << me << ": cannot link " << id << " into " << d.inbox << "\n";
        return false;
      }
    }
    dest = name + "." + std::to_string(n);
  }
  std::string why;
  platform::replace_file(join(join(d.records, "done"), id), "", &why, false);
  platform::remove_file(staged);
  d.out << "linked " << id << " " << dest << "\n";
  return true;
}

// A transfer id of a message for this site: SENDER.SELFDIGITS.HASH, any
// letter case.
bool transfer_id_for(const std::string& self, const std::string& name) {
  std::string l = text::lower(name);
  size_t first = l.find('.');
  size_t last = l.rfind('.');
  if (first == std::string::npos || first == last || !plain_orv_id(l.substr(0, first))) return false;
  std::string_view middle = std::string_view(l).substr(first + 1, last - first - 1);
  std::string_view hash = std::string_view(l).substr(last + 1);
  return middle.starts_with(self) && text::all_digits(middle.substr(self.size())) && hash.size() == 32 &&
         hash.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// What cannot be delivered goes from staging: entries that are no plain
// files, files that are no transfer ids of messages for this site, copies
// left more than a day; a staging directory over its limits is emptied.
void sweep_staging(delivery& d) {
  std::optional<std::vector<std::string>> names = platform::list_entries(d.staging);
  if (!names || names->empty()) return;
  std::int64_t now = platform::now_seconds();
  std::int64_t held_files = 0, held_bytes = 0;
  std::vector<std::string> kept;
  for (const std::string& name : *names) {
    std::string path = join(d.staging, name);
    std::optional<platform::file_info> st = platform::stat_file(path);
    if (!st) continue;
    bool gone = st->kind != platform::entry_kind::file || now - st->mtime_sec >= 2 * 86400 ||
                (!name.starts_with('.') && !transfer_id_for(d.self, name));
    if (gone) {
      platform::remove_tree(path);
      continue;
    }
    ++held_files;
    held_bytes += st->size;
    kept.push_back(path);
  }
  if (held_files <= d.limits.files && held_bytes <= d.limits.bytes) return;
  for (const std::string& path : kept) platform::remove_file(path);
  d.note_refusal("staging held " + std::to_string(held_files) + " files, " +
                 std::to_string(held_bytes) + " bytes, over its limits (" +
                 std::to_string(d.limits.files) + " files, " + std::to_string(d.limits.bytes) +
                 " bytes): emptied");
}

// The markers of linked ids and the sender records older than 60 days.
void sweep_records(const delivery& d) {
  std::int64_t now = platform::now_seconds();
  for (const char* sub : {"done", "from"}) {
    std::string dir = join(d.records, sub);
    for (const std::string& name : platform::list_file_names(dir)) {
      std::string path = join(dir, name);
      std::optional<platform::file_info> st = platform::stat_file(path);
      if (st && now - st->mtime_sec >= 61 * 86400) platform::remove_file(path);
    }
  }
}

}  // namespace

staging_limits read_staging_limits(const std::string& html) {
  staging_limits limits;
  std::string path = join(html, "orv_staging_limits");
  if (!is_plain_file(path)) return limits;
  std::optional<std::string> data = platform::read_file(path);
  if (!data) return limits;
  data->resize(std::min<size_t>(data->size(), 4096));
  for (std::string_view line : text::split_lines(*data)) {
    auto [key, value] = two_words(line);
    if (!text::all_digits(value) || value.size() > 18) continue;
    std::optional<std::int64_t> n = text::parse_number<std::int64_t>(value, 0, 999999999999999999);
    if (!n) continue;
    if (key == "files") limits.files = *n;
    if (key == "bytes") limits.bytes = *n;
  }
  return limits;
}

int deliver(const std::string& html, const std::string& peer, std::istream& in, std::ostream& out,
            std::ostream& err, bool batches) {
  // A dropped connection must not cut a link-in short: once begun, it runs
  // to the end (bounded by the staging limits).
  for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGPIPE}) std::signal(sig, SIG_IGN);
  delivery d{html, join(html, ".inbox-staging"), join(html, "inbox"), join(html, ".inbox-link"),
             "", text::lower(peer), {}, out, err};
  if (!d.peer.empty() && !plain_orv_id(d.peer)) {
    err << me << ": --peer takes a plain orv id, not \"" << peer << "\"\n";
    return 1;
  }
  if (!platform::is_directory(html)) {
    err << me << ": no site directory " << html << "\n";
    return 1;
  }
  for (const std::string& dir : {d.inbox, d.staging, d.records, join(d.records, "done"),
                                 join(d.records, "from")}) {
    std::optional<platform::file_info> st = platform::stat_file(dir);
    if (st && st->kind == platform::entry_kind::link) {
      err << me << ": " << dir << " is a symbolic link, not a directory of the site\n";
      return 1;
    }
    if (!platform::make_directory(dir)) {
      err << me << ": cannot make the directory " << dir << "\n";
      return 1;
    }
  }
  std::string lock_file = join(d.records, "lock");
  if (std::optional<platform::file_info> st = platform::stat_file(lock_file);
      st && st->kind != platform::entry_kind::file) {
    err << me << ": " << lock_file << " is not a plain file\n";
    return 1;
  }
  d.self = read_orv_id(html);
  if (!plain_orv_id(d.self)) {
    err << me << ": " << join(html, "config.txt") << " holds no plain orv id\n";
    return 1;
  }
  // Now and then (at about one delivery in 64) the old records go.
  std::int64_t turn = platform::process_id();
  for (;;) {
    d.limits = read_staging_limits(html);
    // Read before the lock, so that a slow sender holds no other up.
    delivery_end how = delivery_end::stopped;
    std::vector<staged_file> staged = read_delivery(d, in, batches, &how);
    if (batches && how == delivery_end::input && staged.empty()) break;  // the session ends

    {
      // One link-in at a time per site (the senders' and the site's own).
      platform::run_lock lock(lock_file, 300);
      if (!lock.held()) {
        err << me << ": " << d.staging << " is busy\n";
        return 1;
      }
      std::int64_t bytes = 0;
      for (const staged_file& f : staged) {
        if (!link_in(d, f, &bytes)) return 1;
      }
      if (how == delivery_end::batch) out << batch_done << "\n";
      out.flush();
      if (turn++ % 64 == 0) sweep_records(d);
      sweep_staging(d);
    }
    // A session goes on after each whole batch; anything else ends it (the
    // sender then sends what is left in a session of its own).
    if (!batches || how != delivery_end::batch) break;
  }
  return 0;
}

}  // namespace orvsite
