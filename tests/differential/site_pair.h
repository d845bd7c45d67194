// Two ways of reading the cell store, compared: the same requests run in
// two identical sites in this process, one run reading every cell in full
// at load and the other keeping each cell as its stored text until the run
// reaches it. Both must leave the same exit status, page and files, byte
// for byte. Shared by the differential test and the fuzz target.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace differential {

/// A file placed in the site's `inbox` before a request.
struct incoming_file {
  std::string name;  // a name in `inbox`, beginning with the orv id
  std::string text;
};

/// One request: the form of a GET and the incoming files it finds.
struct request {
  std::string query;                  // QUERY_STRING
  std::vector<incoming_file> inbox;   // written to `inbox` before the run
};

/// The form that creates a vantle of the sample site with the nine values
/// of its description (symbolic name `doc_id`).
request create_vantle(const std::string& doc_id, const std::string& i_am,
                      const std::string& vantle_type);

/// A message of type `msg_type` (MSG_SHOW_ALL, MSG_DELETE, ...) to the
/// vantle `id`; -1 sends it to every vantle.
request to_vantle(const std::string& msg_type, int id, const std::string& content = "");

/// A system message of the site manager (SYS_BACKUP, MSG_SHOW_CONFIG, ...).
request system_message(const std::string& msg_type, const std::string& content = "");

/// An incoming MSG_SHOW_ALL from a vantle of "east" to the vantle `id`,
/// the `seq`th file of the inbox.
incoming_file incoming_show(int seq, int id);

/// An incoming Info_Gathering vantle of "east" (MSG_MOVE_KEEP) that asks
/// about `i_am`: its copy queries every vantle here.
incoming_file incoming_move(int seq, const std::string& i_am);

/// What a site holds before the first request, besides the sample site's
/// transition table, keyword tree, query-site table and configuration.
struct site_files {
  std::string store;       // html/file.ic
  std::string name_db;     // html/name_db
  std::string vantle_db;   // html/vantle_db
  std::string id_counter;  // html/ic_id_counter
};

/// `store` with naming files that agree with it as far as it reads: a
/// name_db record and a vantle_db entry for each cell id and symbolic name
/// found, and the counter above the largest id.
site_files files_for(const std::string& store);

/// A directory for scratch sites: in /dev/shm when that is there (no disk
/// writes), otherwise in $TMPDIR or /tmp. Created afresh; the caller
/// removes it.
std::string scratch_directory();

/// Two sites, `full` and `lazy`, below a directory of their own.
class site_pair {
 public:
  /// The sites go below `root`, which must exist.
  explicit site_pair(std::string root);

  /// Lays out both sites afresh: the sample site's files and `files`, with
  /// empty `inbox`, `outbox` and `BACKUP`.
  void lay_out(const site_files& files);

  /// Runs `rq` in the full site and then in the lazy site. The first
  /// difference in exit status, page or any file below `html` (its path,
  /// and the first differing line), or nothing when there is none. The
  /// lazy site trusts a store that matches its fingerprint at every second
  /// run after a lay-out, and reads it in full at the others; its
  /// fingerprint must match its store after each run.
  std::optional<std::string> run(const request& rq);

  /// The page and the ending ("returned", "exit status N") of the last
  /// run in the full site.
  const std::string& last_page() const { return last_page_; }
  const std::string& last_status() const { return last_status_; }

  /// The site directory of one way of reading (below `root`).
  std::string full_site() const { return root_ + "/full"; }
  std::string lazy_site() const { return root_ + "/lazy"; }

 private:
  std::string root_;
  int runs_ = 0;  // runs since the lay-out
  std::string last_page_;
  std::string last_status_;
};

/// Lays out `pair` with `files` and runs `requests` in turn in both sites;
/// the first difference, naming the request, or nothing. Outgoing files
/// carry the second they are written in: a difference found when a second
/// began during the requests is checked by running them all again.
/// `check`, when given, is called with the pair after each request.
std::optional<std::string> compare(site_pair& pair, const site_files& files,
                                   const std::vector<request>& requests,
                                   const std::function<void(size_t, const site_pair&)>& check = {});

}  // namespace differential
