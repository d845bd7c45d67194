// Inbox and outbox exchange: messages between sites travel as small text
// files. Outgoing files wait in `outbox` until the site's put script takes
// them; the get script leaves incoming files in `inbox`.
//
// A message file holds one `ext_message`, one field per line:
//   1 kind, 2 pid, 3 flag, 4 reserved, 5 msg_type, 6 msg_type_name,
//   7 ic_type, 8 ic_sym_name, 9-13 sender (server id, orv id, ic type,
//   ic id, flag character), 14-18 receiver (the same five), 19 content_flag,
//   20 the content, which runs to the end of the file and may span lines.
// Outgoing files are named after the target site's orv id, the second they
// were written in and a sequence number within that second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ext_message.h"
#include "formdecode/page.h"
#include "platform/process.h"
#include "platform/site_dir.h"

namespace exchange {

inline constexpr const char* inbox_dir = "inbox";
inline constexpr const char* outbox_dir = "outbox";
inline constexpr const char* get_script = "orv_ftp_get.cmd";
inline constexpr const char* put_script = "orv_ftp_put.cmd";

/// Where incoming files that cannot be processed are moved; pick-up never
/// reads it.
inline constexpr const char* rejected_dir = "inbox/rejected";

/// Where picked-up files wait, out of `inbox`, while their messages are
/// processed: removed once the store that holds their effect is saved, put
/// back into `inbox` when the run is undone. A file that cannot be moved
/// here is never processed.
inline constexpr const char* held_dir = "inbox.taken";

/// Where the outgoing files of a run wait until the store that holds the
/// run's effect is saved; then they are moved into `outbox`.
inline constexpr const char* staging_dir = "outbox.pending";

/// Where message files are written before they are renamed into `outbox`:
/// the site's directory, on the same file system as `outbox` but out of
/// the put script's sight.
inline constexpr const char* aside_dir = ".";

/// Where a put script keeps the outbox files it has handed on and not yet
/// seen arrive (the local one: between its copy to the target and the
/// rename into the target's inbox). A file here is a send cut short: the
/// put script finishes it when it runs next.
inline constexpr const char* cut_send_dir = ".outbox-local";

/// Where the SSH transfer's receiving half marks each delivery, by transfer
/// id SENDER.NAME.HASH (NAME: the file's name in the sender's outbox).
inline constexpr const char* delivery_marks_dir = ".inbox-link/done";

/// Where the transfer scripts record, before a file enters `inbox`, which
/// site sent it: one small file per inbox name, holding the sender's orv
/// id. Unlike the delivery marks it names the file as it lies in `inbox`,
/// so two senders of the same name in the same second are told apart.
/// The pick-up removes a record with the file it belongs to.
inline constexpr const char* sender_records_dir = ".inbox-link/from";

/// The most a message file (or its content file) in `inbox` may hold; a
/// larger one is set aside unread.
inline constexpr std::size_t message_file_limit = std::size_t{64} << 20;

/// One incoming file that a pick-up took or set aside.
struct incoming_file {
  std::string path;                   // its path in `inbox`
  std::optional<std::string> sender;  // orv id of the sending site, when known
  bool refused = false;               // set aside (or left in `inbox`), not processed
  std::string why;                    // why it was refused
  std::string said;                   // the page's line about setting it aside, raw
};

/// What the exchange remembers during one run.
struct exchange_state {
  platform::site_dir dir;          // the site's directory: every path below is in it
  std::vector<std::string> taken;  // incoming files (and content files) taken this run,
                                   // by their paths in `inbox`; they wait in `held_dir`
  int refused = 0;                 // files left in `inbox` as they could not be taken out
  std::set<std::string> seen;      // inbox paths looked at this run
  std::vector<std::string> pass;   // the inbox files of this pass, in pick-up order
  size_t pass_at = 0;              // the next of them to look at
  bool stage_outgoing = false;     // outgoing files wait in `staging_dir`
  long long last_time = 0;     // second of the last outgoing file
  int sequence = 0;            // number of that file within its second
  std::vector<incoming_file> incoming;  // the files of `inbox` this run took or set aside
  std::vector<std::string> marks;       // the delivery marks, listed once per run
  bool marks_listed = false;
  // The sending site of the message being processed, when known: a reply
  // it carries is kept as that site's answer.
  std::optional<std::string> processing_sender;
};

/// True when the inbox file `name` is for the site `orv_id`: its name
/// begins with the orv id, without regard to case. No name is for a site
/// without an orv id.
bool is_for_site(std::string_view name, std::string_view orv_id);

/// The sender of the inbox file `name` by the delivery marks `marks`: the
/// one sender of a mark whose NAME is `name` (or `name` without the ".N" a
/// taken name gets); nothing when no mark matches. When marks of several
/// senders match (two sites wrote files of one name to this site), the one
/// whose HASH is `hash` (`content_hash` of the file) is the sender; nothing
/// when that does not decide.
std::optional<std::string> sender_by_marks(const std::string& name,
                                           const std::vector<std::string>& marks,
                                           std::string_view hash = {});

/// The HASH of a delivery mark for a file holding `text`: the first 32 hex
/// digits of its SHA-256.
std::string content_hash(std::string_view text);

/// The sender recorded for the inbox file `name` in `sender_records_dir`;
/// nothing when there is no record, or it is not a plain file holding one
/// orv id.
std::optional<std::string> sender_by_record(const std::string& name,
                                            const platform::site_dir& dir = {});

/// The sender of message `m` by its sending cell: a source cell lives at
/// its site, so that site sent it; a copy of a cell may live anywhere, so
/// then (and for a message that names this site `self`) it is not known.
std::optional<std::string> sender_by_message(const engine::ext_message& m,
                                             const std::string& self);

/// The text of a message file for `m` (20 lines; the content last).
std::string format_message_file(const engine::ext_message& m);

/// The message held by the text of a message file. Nothing when the text
/// does not hold the 19 lines before the content, or a number line is not a
/// decimal number. Lines may end with a carriage return before the line
/// feed; text fields are cut to their fixed widths.
std::optional<engine::ext_message> parse_message_file(std::string_view text);

/// The same; when nothing is returned `*err` says on which line what is
/// wrong ("line 3: ...").
std::optional<engine::ext_message> parse_message_file(std::string_view text, std::string* err);

/// Reads the message file `path`. A file that cannot be opened gives
/// "Error: Can't open the \"%s\" file in the directory inbox.\n<p>" on the
/// page; one that does not hold a message gives its own line. Nothing is
/// returned then.
std::optional<engine::ext_message> read_message_file(const std::string& path,
                                                     formdecode::output& out,
                                                     const platform::site_dir& dir = {});

/// True when `name` can only name an entry directly inside a directory:
/// not empty, no "/", no "\\" and no "..".
bool is_plain_name(std::string_view name);

/// Writes `m` as a new file in `outbox` (in `staging_dir` when the state
/// stages outgoing files) for the site `orv_id`, named
/// orv id, second, sequence number. The sequence number counts files of the
/// same second of this run and goes further up while the name is taken, so
/// an existing file is never replaced. The file is written aside and
/// linked into `outbox` whole. Reports the file on the page. Returns the
/// path written, or nothing (with "Error: Can't open file %s in the
/// directory outbox.\n<p>") when the orv id is not a plain name or the file
/// cannot be created.
std::optional<std::string> write_outgoing_message(exchange_state& ex,
                                                  const engine::ext_message& m,
                                                  const std::string& orv_id,
                                                  formdecode::output& out);

/// The same at a given second (for tests and for callers with a clock).
std::optional<std::string> write_outgoing_message_at(exchange_state& ex,
                                                     const engine::ext_message& m,
                                                     const std::string& orv_id,
                                                     std::int64_t now, formdecode::output& out);

/// Takes the oldest incoming message file addressed to `orv_id` (its name
/// begins with the orv id, without regard to case) from `inbox` and returns
/// its message; nothing when none is left. The file is moved to `held_dir`
/// and noted in `ex.taken`: `remove_taken` removes it once the store that
/// holds its effect is saved. A file that cannot be moved out of `inbox` is
/// reported, counted in `ex.refused` and not processed. The inbox is listed once per pass: the files of a
/// listing are taken in order (oldest modification time first, ties by
/// name), and only when they are used up is it listed again for files that
/// came meanwhile. A message whose content_flag is -1 names a content file:
/// it must be a plain file of `inbox`, whose text becomes the content (the
/// file is taken too); the returned message then carries content_flag 0.
/// Any other name leaves the message without content. A file that does not
/// hold a message is reported and moved to `rejected_dir`. Without an
/// `inbox` directory "Error: Can't open the \"tmp\" file for the directory
/// inbox.\n<p>" is written and nothing is returned.
std::optional<engine::ext_message> pick_up_message(exchange_state& ex, const std::string& orv_id,
                                                   formdecode::output& out);

/// Notes in `ex` that the taken message files `files` (the message file
/// first) are refused for `why`: the entry of the message file is marked.
void note_refused(exchange_state& ex, const std::vector<std::string>& files, std::string_view why);

/// Moves the incoming file `path` to `rejected_dir` and says on the page
/// why it was set aside; `*said` (when given) gets that line, raw and
/// without markup.
void reject_incoming(const std::string& path, std::string_view why, formdecode::output& out,
                     std::string* said = nullptr, const platform::site_dir& dir = {});

/// Sets aside a picked-up message that cannot be processed: `files` are the
/// files it was read from, its message file first and then the content file
/// it took, if any. Each is moved to `rejected_dir` and reported as
/// `reject_incoming` does; the content file's reason names the message file.
/// `*said` gets the line about the message file.
/// Nothing of the message stays in `inbox`.
void reject_message(const std::vector<std::string>& files, std::string_view why,
                    formdecode::output& out, std::string* said = nullptr,
                    const platform::site_dir& dir = {});

/// Removes the files taken in this run (from `held_dir`).
void remove_taken(exchange_state& ex);

/// Puts the files waiting in `held_dir` back into `inbox` (a name taken
/// there meanwhile gets a suffix), with their modification times, so the
/// next pick-up takes them in the same order: their run did not save.
void return_held(const platform::site_dir& dir = {});

/// Removes the files waiting in `held_dir`: their run saved.
void remove_held(const platform::site_dir& dir = {});

/// Where the taken file `path` (a path in `inbox`) waits now.
std::string held_path(const std::string& path);

/// Moves the files waiting in `staging_dir` into `outbox`.
void publish_staged(const platform::site_dir& dir = {});

/// Removes the files waiting in `staging_dir`: their run did not save.
void discard_staged(const platform::site_dir& dir = {});

/// Carries out SYS_SEND_MSG: reports every file of `outbox` and, when there
/// is at least one, runs the put script, which delivers them. A send cut
/// short (a file in `cut_send_dir`) also runs the put script, after the
/// report of an empty outbox, so that it is finished. The program
/// never deletes outbox files itself. Without an `outbox` directory
/// "Error: Can't open the \"temp\" file for the directory outbox.\n<p>" is
/// written and nothing is sent.
/// Returns the names of the files reported. The put script runs as
/// `script` says.
std::vector<std::string> send_outgoing_messages(formdecode::output& out,
                                                const platform::script_place& script = {},
                                                const platform::site_dir& dir = {});

}  // namespace exchange
