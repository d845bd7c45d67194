// `orvsite mesh`: every peer of a site laid out from one roster file, and
// the whole mesh verified (reachable, host key unchanged, forced command in
// place) with one line per peer.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvsite {

/// One site of a roster: a line "SITE ORV-ID HOST PORT USER SITE-DIR
/// FINGERPRINT" (words separated by blanks; "#" starts a comment).
struct roster_entry {
  std::string site;         // the operator's name for it
  std::string orv_id;       // its orv id (the peer's name in orv_hosts)
  std::string host;         // where its sshd listens
  int port = 22;            // its SSH port
  std::string user;         // the account that runs the site there
  std::string site_dir;     // its site directory there (absolute)
  std::string fingerprint;  // its sshd's ed25519 host key, "SHA256:..."
  int line = 0;             // its line in the roster
};

/// The roster's sites; nothing (the reasons on `err`, one per bad line)
/// when a line is not a roster line or two lines name the same orv id.
std::optional<std::vector<roster_entry>> read_roster(const std::string& path, std::ostream& err);

/// What `mesh add` is told.
struct mesh_options {
  std::string dir;                             // the site directory
  std::string roster;                          // the roster file
  std::optional<std::string> from;             // this machine's address as peers see it
  std::optional<std::string> install_key;      // the operator's key to install with
  // on the peers, from the account's home; "%o" stands for the peer's orv id
  std::string authorized_keys = ".ssh/authorized_keys";
};

/// Adds every other site of the roster as a peer of the site (its own line
/// found by its orv id), each host key pinned to the roster's fingerprint;
/// prints the authorized_keys line each peer needs, or installs it there
/// when `install_key` is given and the peer can be reached with it. One
/// line per peer; 0 when every peer is a peer now, 1 otherwise.
int mesh_add(const mesh_options& o, std::ostream& out, std::ostream& err);

/// Verifies every peer of the site's orv_hosts (and, given a roster, that
/// every site of it is a peer with the roster's host key): reachable, the
/// host key the one known_hosts holds, the site's key let in only to the
/// forced command. One line per peer and a summary; 0 when all is in order.
int mesh_check(const std::string& dir, const std::optional<std::string>& roster,
               std::ostream& out, std::ostream& err);

}  // namespace orvsite
