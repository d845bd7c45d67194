// The delivery sessions `orvsite watch` keeps open to its site's peers.
//
// Each delivery over SSH costs a session: an ssh client, sshd's session
// process, the login shell, the forced command and the receiver, started
// and ended for a few files. While a watch runs it holds one session per
// peer (`orv-deliver-batches`) and carries delivery after delivery through
// it: the put script's `orvsite send` hands each delivery to the watch over
// a local socket (named by ORV_CARRIER in the environment of what the watch
// runs), the watch writes it into the peer's session, ended by a batch-end
// record, and hands back the peer's answer. A delivery the carrier cannot
// carry (no session can be opened, the peer's scripts are older, the
// session broke) is sent as ever, in a session of its own.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/local_socket.h"
#include "platform/process.h"

namespace orvsite {

/// The environment variable that names the carrier's socket.
inline constexpr const char* carrier_variable = "ORV_CARRIER";

/// The command of a session that carries one delivery after another.
inline constexpr std::string_view batches_command = "orv-deliver-batches ";

class carrier {
 public:
  /// A carrier listening at `socket_path`; a session unused for
  /// `idle_seconds` ends. Nothing, with `*err`, when it cannot listen.
  static std::unique_ptr<carrier> open(const std::string& socket_path, int idle_seconds,
                                       std::string* err);
  ~carrier();  // ends the sessions and removes the socket

  carrier(const carrier&) = delete;
  carrier& operator=(const carrier&) = delete;

 private:
  struct session;
  carrier(std::string path, platform::unique_fd listener, int idle_seconds);
  void serve();
  void handle(platform::unique_fd client);
  std::shared_ptr<session> session_for(const std::string& key);
  void end_idle_sessions();

  std::string path_;
  platform::unique_fd listener_;
  int idle_seconds_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;  // guards sessions_
  std::map<std::string, std::shared_ptr<session>> sessions_;
  struct client_thread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<client_thread> clients_;  // the server thread's own
  std::thread server_;
};

/// Carries `delivery` (headers and files, as an orv-deliver session takes
/// them) through the carrier at `socket_path` to the peer whose session
/// `ssh_argv` opens (its last word the orv-deliver-batches command). The
/// peer's answer lines, or nothing when it could not be carried.
std::optional<std::string> carry(const std::string& socket_path,
                                 const std::vector<std::string>& ssh_argv,
                                 std::string_view delivery);

}  // namespace orvsite
