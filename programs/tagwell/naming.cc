// Six-line name records: symbolic name, server id, orv id, ic type, ic id,
// flag. Names match when the stored name begins with the given one.
#include "programs/tagwell/naming.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "formdecode/page.h"
#include "platform/platform.h"
#include "site/naming_counters.h"
#include "text/text.h"

namespace tagwell {
namespace {

using formdecode::format;

// Reads `name_db` record by record, in file order.
class record_reader {
 public:
  explicit record_reader(std::string text) : text_(std::move(text)) {}

  // The next record; nothing at the end of the file, or (after the message)
  // when the last record breaks off.
  std::optional<name_record> next(std::ostream& out) {
    std::optional<std::string> first = line();
    if (!first) return std::nullopt;
    std::string lines[5];
    for (std::string& l : lines) {
      std::optional<std::string> got = line();
      if (!got) {
        out << "Error: the last record is not complete!!\n";
        pos_ = text_.size();
        return std::nullopt;
      }
      l = *got;
    }
    name_record rec;
    rec.symbolic_name = *first;
    rec.server_id = lines[0];
    rec.orv_id = lines[1];
    rec.ic_type = lines[2];
    rec.ic_id = static_cast<std::int32_t>(text::leading_number(lines[3]));
    rec.flag = lines[4].empty() ? '\0' : lines[4][0];
    return rec;
  }

 private:
  // The next line with its line end (a carriage return before the line
  // feed is dropped); nothing at the end of the file.
  std::optional<std::string> line() {
    if (pos_ >= text_.size()) return std::nullopt;
    size_t nl = text_.find('\n', pos_);
    size_t end = nl == std::string::npos ? text_.size() : nl + 1;
    std::string l = text_.substr(pos_, end - pos_);
    pos_ = end;
    if (l.size() >= 2 && l[l.size() - 2] == '\r' && l.back() == '\n') l.erase(l.size() - 2, 1);
    return l;
  }

  std::string text_;
  size_t pos_ = 0;
};

// The first record whose stored name begins with `name`.
std::optional<name_record> find(const std::string& name, std::ostream& out) {
  std::optional<std::string> text = platform::read_file(name_db_file);
  if (!text) return std::nullopt;
  record_reader reader(std::move(*text));
  while (std::optional<name_record> rec = reader.next(out)) {
    if (rec->symbolic_name.starts_with(name)) return rec;
  }
  return std::nullopt;
}

bool fits(const std::string& text) { return text.size() <= max_field_length; }

}  // namespace

register_result register_name(name_record& rec, std::ostream& out) {
  for (const std::string* text : {&rec.symbolic_name, &rec.server_id, &rec.orv_id, &rec.ic_type}) {
    if (!fits(*text) || text->find('\n') != std::string::npos) {
      out << format("The text %s does not fit a name record (at most 49 characters, one line)!!\n",
                    {*text}, false);
      return field_too_long;
    }
  }
  if (name_exists(rec.symbolic_name, out)) {
    out << format("The given symbolic name %s has already been used!! \n", {rec.symbolic_name},
                  false);
    return name_taken;
  }
  rec.ic_id = site::next_ic_id();
  return platform::append_file(name_db_file, record_text(rec), nullptr) ? registered
                                                                       : db_unwritable;
}

std::string record_text(const name_record& rec) {
  return format("%s\n%s\n%s\n%s\n%d\n%c\n",
                {rec.symbolic_name, rec.server_id, rec.orv_id, rec.ic_type, rec.ic_id, rec.flag},
                false);
}

bool name_exists(const std::string& name, std::ostream& out) { return find(name, out).has_value(); }

bool look_up(name_record& rec, std::ostream& out) {
  std::optional<name_record> found = find(rec.symbolic_name, out);
  if (!found) return false;
  rec = *found;
  return true;
}

std::string unique_name(const std::string& base, std::ostream& out) {
  std::string stem = base.empty() ? "IC" : base;
  std::string candidate = base.empty() ? stem + "_" + site::next_name_number() : base;
  while (fits(candidate) && name_exists(candidate, out)) {
    candidate = stem + "_" + site::next_name_number();
  }
  if (!fits(candidate)) {
    out << format("The name %s is longer than 49 characters!!\n", {candidate}, false);
    return "";
  }
  out << format("unique name = %s\n", {candidate}, false);
  return candidate;
}

}  // namespace tagwell
