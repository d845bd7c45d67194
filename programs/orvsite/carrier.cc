// The delivery sessions of a watch: a thread accepts the sends' requests,
// a thread per request carries it through the peer's session.
#include "programs/orvsite/carrier.h"

#include <chrono>
#include <utility>

#include "platform/files.h"
#include "programs/orvsite/delivery.h"
#include "text/text.h"

namespace orvsite {
namespace {

// A request: the words of the session's ssh command, each ended by a NUL,
// an empty word, the delivery's size and a newline, then the delivery.
// Its most: the largest delivery a site's staging takes, and then some.
constexpr std::size_t request_most = std::size_t{1} << 31;
// How long a peer may take to answer a delivery: its lock waits up to five
// minutes, and a connection that died is told within a minute.
constexpr int answer_seconds = 900;
// After a session could not be opened, the sends go their own way so long.
constexpr std::int64_t pause_seconds = 60;

std::int64_t steady_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The line that ends an answer, with what came before it.
bool answer_complete(std::string_view answer) {
  std::string end = std::string(batch_done) + "\n";
  return answer == end || answer.ends_with("\n" + end);
}

// True when `delivery` is whole files, each behind its header: the record
// that ends it then falls where the peer reads a header.
bool whole_files(std::string_view delivery) {
  while (!delivery.empty()) {
    if (delivery.size() < delivery_header_size) return false;
    std::optional<delivery_header> h = parse_delivery_header(delivery.substr(0, delivery_header_size));
    if (!h) return false;
    delivery.remove_prefix(delivery_header_size);
    if (static_cast<std::uint64_t>(h->size) > delivery.size()) return false;
    delivery.remove_prefix(static_cast<size_t>(h->size));
  }
  return true;
}

}  // namespace

struct carrier::session {
  std::mutex mutex;  // one delivery at a time; guards what follows
  platform::running_child child;
  std::int64_t last_use = 0;
  std::int64_t paused_until = 0;  // no new session before (steady seconds)
};

std::unique_ptr<carrier> carrier::open(const std::string& socket_path, int idle_seconds,
                                       std::string* err) {
  platform::unique_fd listener = platform::listen_local(socket_path, err);
  if (!listener) return nullptr;
  std::unique_ptr<carrier> c(new carrier(socket_path, std::move(listener), idle_seconds));
  c->server_ = std::thread([raw = c.get()] { raw->serve(); });
  return c;
}

carrier::carrier(std::string path, platform::unique_fd listener, int idle_seconds)
    : path_(std::move(path)), listener_(std::move(listener)), idle_seconds_(idle_seconds) {}

carrier::~carrier() {
  stopping_ = true;
  if (server_.joinable()) server_.join();
  for (client_thread& c : clients_) c.thread.join();
  sessions_.clear();  // each session's child ends with it
  platform::remove_file(path_);
}

void carrier::serve() {
  while (!stopping_) {
    platform::unique_fd client = platform::accept_local(listener_.get(), 1000);
    end_idle_sessions();
    // The threads of requests carried are joined as they finish.
    std::erase_if(clients_, [](client_thread& c) {
      if (!*c.done) return false;
      c.thread.join();
      return true;
    });
    if (!client) continue;
    auto done = std::make_shared<std::atomic<bool>>(false);
    clients_.push_back({std::thread([this, done, c = std::move(client)]() mutable {
                          handle(std::move(c));
                          *done = true;
                        }),
                        done});
  }
}

std::shared_ptr<carrier::session> carrier::session_for(const std::string& key) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::shared_ptr<session>& s = sessions_[key];
  if (!s) s = std::make_shared<session>();
  return s;
}

void carrier::end_idle_sessions() {
  std::int64_t now = steady_seconds();
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& [key, s] : sessions_) {
    std::unique_lock<std::mutex> busy(s->mutex, std::try_to_lock);
    // An unused session ends (the peer's receiver ends with its input);
    // one that ended by itself is reaped.
    if (busy.owns_lock() && (!s->child.running() || now - s->last_use >= idle_seconds_)) {
      s->child.end();
    }
  }
}

void carrier::handle(platform::unique_fd client) {
  // The request, whole.
  std::string request;
  std::vector<std::string> argv;
  std::size_t delivery_at = 0, delivery_size = 0;
  char buf[65536];
  for (;;) {
    if (delivery_at > 0 && request.size() >= delivery_at + delivery_size) break;
    long n = platform::read_some(client.get(), buf, sizeof buf, 30000);
    if (n <= 0 || stopping_) return;
    request.append(buf, static_cast<size_t>(n));
    if (request.size() > request_most) return;
    if (delivery_at > 0) continue;
    // The words and the size, once they are in.
    size_t end = request.find(std::string_view("\0\0", 2));
    if (end == std::string::npos) continue;
    size_t line = request.find('\n', end + 2);
    if (line == std::string::npos) continue;
    for (size_t at = 0; at <= end;) {
      size_t nul = request.find('\0', at);
      argv.push_back(request.substr(at, nul - at));
      at = nul + 1;
    }
    std::optional<std::size_t> size =
        text::parse_number<std::size_t>(std::string_view(request).substr(end + 2, line - end - 2), 0,
                                        request_most);
    // Only an ssh session running the batches command is carried.
    if (!size || argv.size() < 3 || argv.front() != "ssh" ||
        !argv.back().starts_with(batches_command)) {
      return;
    }
    delivery_at = line + 1;
    delivery_size = *size;
  }
  std::string_view delivery = std::string_view(request).substr(delivery_at, delivery_size);
  if (request.size() != delivery_at + delivery_size || !whole_files(delivery)) return;

  std::string key;
  for (const std::string& word : argv) key += word + '\0';
  std::shared_ptr<session> s = session_for(key);
  std::lock_guard<std::mutex> one_at_a_time(s->mutex);
  // A session left open since the last delivery may have ended meanwhile
  // (its connection closed, the peer's receiver stopped): then once more in
  // a new one. One that cannot be opened leaves the sends to themselves.
  for (int attempt = 0; attempt < 2 && !stopping_; ++attempt) {
    bool fresh = false;
    if (!s->child.running()) {
      if (steady_seconds() < s->paused_until) return;
      platform::spawn_options o;
      o.argv = argv;
      o.in = platform::input_mode::pipe;
      o.out = platform::output_mode::capture;
      o.err = platform::output_mode::null;
      std::optional<platform::running_child> started = platform::start(o, nullptr);
      if (!started) {
        s->paused_until = steady_seconds() + pause_seconds;
        return;
      }
      s->child = std::move(*started);
      fresh = true;
    }
    s->last_use = steady_seconds();
    std::string answer;
    bool ok = platform::write_all(s->child.input(), delivery) &&
              platform::write_all(s->child.input(), batch_end_record());
    const std::int64_t deadline = steady_seconds() + answer_seconds;
    while (ok && !answer_complete(answer)) {
      long n = platform::read_some(s->child.output(), buf, sizeof buf, 1000);
      if (n == 0 || stopping_ || steady_seconds() > deadline) ok = false;
      if (n > 0) answer.append(buf, static_cast<size_t>(n));
    }
    s->last_use = steady_seconds();
    if (ok) {
      platform::write_all(client.get(), answer);
      return;
    }
    s->child.end();
    if (fresh) {
      s->paused_until = steady_seconds() + pause_seconds;
      return;
    }
  }
}

std::optional<std::string> carry(const std::string& socket_path,
                                 const std::vector<std::string>& ssh_argv,
                                 std::string_view delivery) {
  platform::unique_fd fd = platform::connect_local(socket_path, nullptr);
  if (!fd) return std::nullopt;
  std::string head;
  for (const std::string& word : ssh_argv) head += word + '\0';
  head += '\0';
  head += std::to_string(delivery.size()) + "\n";
  if (!platform::write_all(fd.get(), head) || !platform::write_all(fd.get(), delivery)) {
    return std::nullopt;
  }
  std::string answer;
  char buf[65536];
  for (;;) {
    long n = platform::read_some(fd.get(), buf, sizeof buf, (answer_seconds + 60) * 1000);
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  if (!answer_complete(answer)) return std::nullopt;
  answer.resize(answer.size() - batch_done.size() - 1);
  return answer;
}

}  // namespace orvsite
