// `orvsite peer`: the sites on other machines that a site sends to over
// SSH, kept in its host map `html/orv_hosts`, with their host keys in
// `html/ssh/known_hosts` and the site's own key in `html/ssh/id_ed25519`.
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

namespace orvsite {

/// What `peer add` is told.
struct peer_options {
  std::string dir;                  // the site directory
  std::string name;                 // the peer's orv id
  std::string host;                 // where it lives
  int port = 22;                    // its SSH port
  std::string user;                 // the account there (empty: ssh's default)
  std::optional<std::string> site;  // its site directory there
  std::optional<std::string> from;  // this machine's address as the peer sees it
  std::optional<std::string> fingerprint;  // the host key's expected fingerprint
  bool yes = false;                 // take the host key without asking
};

/// Adds the peer: makes the site's key when it has none, fetches the
/// peer's host key (ssh-keyscan), shows its fingerprint and has it
/// confirmed (by `fingerprint`, by `yes`, or by a "y" on `in`), adds it to
/// known_hosts and the peer's line to orv_hosts, and prints the line the
/// peer's machine needs in its authorized_keys. Returns 0, or 1 (with the
/// reason on `err`; then nothing is written but the site's new key).
int peer_add(const peer_options& o, std::istream& in, std::ostream& out, std::ostream& err);

/// One line per peer of orv_hosts: its id, where it lives, its site
/// directory and the fingerprint of its host key in known_hosts.
int peer_list(const std::string& dir, std::ostream& out, std::ostream& err);

/// Removes the peer `name` from orv_hosts, and its host key from
/// known_hosts when no other peer lives on the same host and port.
int peer_remove(const std::string& dir, const std::string& name, std::ostream& out,
                std::ostream& err);

/// Makes a new key for the site (the old one is kept as id_ed25519.old)
/// and prints the authorized_keys line each peer's machine needs instead of
/// the old one.
int peer_rotate_key(const std::string& dir, const std::optional<std::string>& from,
                    std::ostream& out, std::ostream& err);

}  // namespace orvsite
