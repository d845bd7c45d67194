// The swap keeps its state in the restore's own folder beside `html`:
//   ASIDE/html      the restored copy, emptied as its entries move in
//   ASIDE/old       html's old entries, moved out first
//   ASIDE/swapping  present from the first move until the last: a folder
//                   without it was never swapped, or is done with
//   ASIDE/moving-in present once every old entry is out
// Every step is one rename, so a killed swap is always at a point where
// the same steps, taken again from what these names show, finish it.
#include "site/restore_swap.h"

#include <csignal>
#include <vector>

#include "platform/platform.h"
#include "site/request.h"
#include "text/text.h"

namespace site {
namespace {

constexpr const char* html_name = "html";
constexpr const char* aside_prefix = ".restore.";
constexpr const char* new_dir = "html";
constexpr const char* old_dir = "old";
constexpr const char* swapping_mark = "swapping";
constexpr const char* moving_in_mark = "moving-in";

std::string join(const std::string& a, const std::string& b) { return a + "/" + b; }

// A name `restore_aside_name` makes.
bool is_aside_name(const std::string& name) {
  if (!name.starts_with(aside_prefix) || name.size() == std::string(aside_prefix).size()) {
    return false;
  }
  return name.find_first_not_of("0123456789", std::string(aside_prefix).size()) ==
         std::string::npos;
}

bool fail(std::string* err, const std::string& why) {
  if (err) *err = why;
  return false;
}

bool move(const std::string& from, const std::string& to, std::string* err) {
  std::string why;
  if (platform::rename_file(from, to, &why)) return true;
  return fail(err, "cannot move " + from + " to " + to + ": " + why);
}

// Takes the swap of `aside` from wherever it stopped to its end.
bool carry_through(const std::string& site_dir, const std::string& aside, std::string* err) {
  const std::string html = join(site_dir, html_name);
  const std::string incoming = join(aside, new_dir);
  const std::string outgoing = join(aside, old_dir);
  if (!platform::exists(join(aside, moving_in_mark))) {
    if (!platform::is_directory(outgoing) && !platform::make_directory(outgoing)) {
      return fail(err, "cannot make " + outgoing);
    }
    std::optional<std::vector<std::string>> old_names = platform::list_entries(html);
    if (!old_names) return fail(err, "cannot list " + html);
    for (const std::string& name : *old_names) {
      if (name == lock_file) continue;
      if (!move(join(html, name), join(outgoing, name), err)) return false;
      restore_stop_point();
    }
    std::string why;
    if (!platform::replace_file(join(aside, moving_in_mark), "", &why)) {
      return fail(err, "cannot write " + join(aside, moving_in_mark) + ": " + why);
    }
    restore_stop_point();
  }
  // What is still in the copy moves in; an entry that moved in already is
  // no longer there.
  std::optional<std::vector<std::string>> new_names = platform::list_entries(incoming);
  if (!new_names) return fail(err, "cannot list " + incoming);
  for (const std::string& name : *new_names) {
    if (!move(join(incoming, name), join(html, name), err)) return false;
    restore_stop_point();
  }
  if (std::optional<platform::entry_access> top = platform::access_of(incoming)) {
    platform::set_mode(html, top->mode);
    platform::set_owner(html, top->owner, top->group);
    platform::set_owner(join(html, lock_file), top->owner, top->group);
  }
  restore_stop_point();
  // Done: from here on the folder is only removed.
  if (!platform::remove_file(join(aside, swapping_mark))) {
    return fail(err, "cannot remove " + join(aside, swapping_mark));
  }
  restore_stop_point();
  // A folder that stays (the site's own programs may not write in the site
  // directory) holds nothing the site needs; the next run as its owner
  // removes it.
  platform::remove_tree(aside);
  restore_stop_point();
  return true;
}

}  // namespace

std::string restore_aside_name(int pid) { return aside_prefix + std::to_string(pid); }

bool swap_in_restore(const std::string& site_dir, const std::string& aside, std::string* err) {
  const std::string outgoing = join(aside, old_dir);
  if (!platform::make_directory(outgoing)) return fail(err, "cannot make " + outgoing);
  if (std::optional<platform::entry_access> a = platform::access_of(aside)) {
    platform::set_owner(outgoing, a->owner, a->group);
  }
  std::string why;
  if (!platform::replace_file(join(aside, swapping_mark), "", &why)) {
    return fail(err, "cannot write " + join(aside, swapping_mark) + ": " + why);
  }
  restore_stop_point();
  return carry_through(site_dir, aside, err);
}

std::optional<std::string> finish_restore(const std::string& site_dir, std::string* err) {
  int finished = 0;
  int removed = 0;
  std::string stays;  // a folder that could not be removed
  for (const std::string& name : platform::list_entries(site_dir).value_or(std::vector<std::string>{})) {
    if (!is_aside_name(name)) continue;
    const std::string aside = join(site_dir, name);
    std::optional<platform::entry_access> a = platform::access_of(aside);
    if (!a || !a->directory) continue;
    if (platform::exists(join(aside, swapping_mark))) {
      if (!carry_through(site_dir, aside, err)) return "a restore cut short is not finished";
      ++finished;
    } else if (platform::remove_tree(aside)) {
      ++removed;
    }
    if (platform::exists(aside)) stays = aside;
  }
  std::string said;
  if (finished > 0) {
    said = "finished a restore that was cut short during its swap";
  } else if (removed > 0) {
    said = "removed what a restore cut short before its swap left";
  }
  if (!stays.empty()) {
    said += std::string(said.empty() ? "" : "; ") + "cannot remove " + stays +
            " (the site does not need it)";
  }
  if (said.empty()) return std::nullopt;
  return said;
}

bool restore_left_over(const std::string& site_dir) {
  for (const std::string& name : platform::list_entries(site_dir).value_or(std::vector<std::string>{})) {
    if (is_aside_name(name)) return true;
  }
  return false;
}

void restore_stop_point() {
  static int calls = 0;
  static const long long stop_at =
      text::leading_number(platform::environment("ORV_TEST_RESTORE_STOP").value_or(""));
  if (stop_at > 0 && ++calls == stop_at) std::raise(SIGKILL);
}

}  // namespace site
