#include "window_server.h"

#include <algorithm>
#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <list>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "interruption.h"
#include "window_gate.h"
#include "window_page.h"
#include "window_peer.h"
#include "window_socket.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Json = nlohmann::ordered_json;

namespace {

using Clock = std::chrono::steady_clock;

// How long a page's question waits for something new before it is answered all the same.
constexpr auto kLongPoll = std::chrono::seconds(4);
// How long a connection may take to send its whole request, from its acceptance: bytes that
// trickle in do not extend it.
constexpr auto kRequestTime = std::chrono::seconds(20);
// How long an answer may take to be written.
constexpr auto kAnswerTime = std::chrono::seconds(10);
// How long a refused request's unread rest is taken in after the answer, in all.
constexpr auto kDrainTime = std::chrono::seconds(2);
// A connection's whole life: its request, a long poll, its answer. Nothing extends it.
constexpr auto kLifeTime = kRequestTime + kLongPoll + kAnswerTime;
// Connections served at once. At the bound a new one takes the place of the oldest that has
// not shown the token yet; when every one has, the new one is closed.
constexpr size_t kMaxConnections = 64;

// Beast's views as the standard library's.
std::string_view view(beast::string_view text) {
  return {text.data(), text.size()};
}

// The number in |query|'s |key|=..., or |fallback|.
size_t queryNumber(std::string_view query, std::string_view key, size_t fallback) {
  size_t at = 0;
  while (at < query.size()) {
    size_t end = query.find('&', at);
    std::string_view pair = query.substr(at, end == std::string_view::npos ? end : end - at);
    if (pair.size() > key.size() && pair.substr(0, key.size()) == key && pair[key.size()] == '=') {
      std::string_view digits = pair.substr(key.size() + 1);
      if (digits.empty() || digits.size() > 9) {
        return fallback;
      }
      size_t value = 0;
      for (char c : digits) {
        if (c < '0' || c > '9') {
          return fallback;
        }
        value = value * 10 + static_cast<size_t>(c - '0');
      }
      return value;
    }
    if (end == std::string_view::npos) {
      break;
    }
    at = end + 1;
  }
  return fallback;
}

}  // namespace

class Connection;

// Declared before the I/O context, so that they outlive the connections it ends.
struct WindowServerState {
  WindowSession* session = nullptr;
  WindowGate gate;
  std::function<double()> clock;
  std::vector<Connection*> waiting;  // the long polls; touched only on the server's thread
  std::list<Connection*> live;       // every connection, oldest first; likewise
  bool stopping = false;             // likewise
  int port = 0;
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  std::thread thread;

  void accept();
  void wakeWaiting();
  // Whether the connection |socket| comes from a process of this user; refused and closed
  // when it does not.
  bool fromThisUser(tcp::socket* socket);
  // Room for one more connection; false when every one served has shown the token.
  bool makeRoom();
};

/// A page's connection: one request, its answer, then the end.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, WindowServerState* server)
      : stream_(std::move(socket)),
        timer_(server->io),
        server_(server),
        accepted_(Clock::now()),
        entry_(server->live.insert(server->live.end(), this)) {}
  ~Connection() {
    stopWaiting();
    if (!evicted_) {
      server_->live.erase(entry_);
    }
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void start() {
    parser_.emplace();
    parser_->header_limit(16 * 1024);
    parser_->body_limit(kMaxUploadBytes);
    stream_.expires_at(accepted_ + kRequestTime);
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code error, size_t) { self->onHeader(error); });
  }

  /// Something new to read, or the server stops: a waiting question is answered now.
  void wake() { timer_.cancel(); }

  /// Whether its request showed this run's token.
  bool admitted() const { return admitted_; }

  /// Closes the connection to make room for a newer one; it leaves the count at once.
  void evict() {
    evicted_ = true;
    server_->live.erase(entry_);
    beast::error_code ignored;
    stream_.socket().close(ignored);
    timer_.cancel();
  }

 private:
  // The long poll has ended, answered or not: the server forgets it.
  void stopWaiting() {
    if (waiting_) {
      waiting_ = false;
      auto& waiting = server_->waiting;
      waiting.erase(std::remove(waiting.begin(), waiting.end(), this), waiting.end());
    }
  }

  // The sooner of |from| + |time| and the end of the connection's life.
  Clock::time_point bounded(Clock::time_point from, Clock::duration time) const {
    return std::min(from + time, accepted_ + kLifeTime);
  }

  void onHeader(beast::error_code error) {
    if (error) {
      return;
    }
    const auto& request = parser_->get();
    WindowRequest asked;
    asked.method = std::string(request.method_string());
    std::string_view target = view(request.target());
    size_t question = target.find('?');
    asked.path = std::string(target.substr(0, question));
    query_ = question == std::string_view::npos ? std::string()
                                                : std::string(target.substr(question + 1));
    asked.host = std::string(request[http::field::host]);
    asked.origin = std::string(request[http::field::origin]);
    asked.token = std::string(request["X-Window-Token"]);
    page_ = std::string(request["X-Window-Page"]);
    path_ = asked.path;
    method_ = asked.method;
    Refusal refusal = server_->gate.admit(asked);
    if (refusal != Refusal::kAdmitted) {
      server_->session->refused(refusalName(refusal));
      answer(http::status::forbidden, "text/plain; charset=utf-8", "Forbidden\n", true);
      return;
    }
    // Only a connection that showed the token keeps its place when the connections run out.
    admitted_ = server_->gate.showsToken(asked);
    bool body = parser_->chunked() || parser_->content_length().value_or(0) > 0;
    if (method_ != "POST" || path_ != "/module") {
      if (body) {
        // Only an upload carries a body; any other is refused unread.
        answer(http::status::bad_request, "text/plain; charset=utf-8",
               "Only an upload carries a body\n", true);
        return;
      }
      serve();
      return;
    }
    if (parser_->content_length().value_or(0) > kMaxUploadBytes) {
      answerTooLarge();
      return;
    }
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code bodyError, size_t) {
                       self->onBody(bodyError);
                     });
  }

  // An upload over the bound: refused before or while its body is read.
  void answerTooLarge() {
    answer(
        http::status::payload_too_large, "application/json",
        Json{{"error", "the file is larger than 4 MiB: it cannot be a firmware file for the hand"}}
            .dump(),
        true);
  }

  void onBody(beast::error_code error) {
    if (error == http::error::body_limit) {
      answerTooLarge();
      return;
    }
    if (error) {
      return;
    }
    serve();
  }

  void serve() {
    WindowSession& session = *server_->session;
    std::string_view body;
    std::string_view type;
    if (method_ == "GET" && pageFile(path_, &body, &type)) {
      answer(http::status::ok, type, std::string(body), false);
      return;
    }
    if (method_ == "GET" && path_ == "/events") {
      after_ = queryNumber(query_, "after", 0);
      version_ = static_cast<unsigned>(queryNumber(query_, "version", 0));
      bool anything = false;
      Json reading = session.read(after_, version_, page_, server_->clock(), &anything);
      if (anything || server_->stopping) {
        answerJson(http::status::ok, reading);
        return;
      }
      waiting_ = true;
      server_->waiting.push_back(this);
      timer_.expires_after(kLongPoll);
      timer_.async_wait([self = shared_from_this()](beast::error_code) {
        self->stopWaiting();
        if (self->evicted_) {
          return;
        }
        bool ignored = false;
        Json later = self->server_->session->read(self->after_, self->version_, self->page_,
                                                  self->server_->clock(), &ignored);
        self->answerJson(http::status::ok, later);
      });
      return;
    }
    if (method_ != "POST") {
      answer(http::status::not_found, "text/plain; charset=utf-8", "Not found\n", false);
      return;
    }
    std::string why;
    bool done = false;
    if (path_ == "/start") {
      done = session.ask(page_, WindowAction{WindowAction::kStart, 0}, &why);
    } else if (path_ == "/retry") {
      size_t index = queryNumber(query_, "index", SIZE_MAX);
      done = session.ask(page_, WindowAction{WindowAction::kRetry, index}, &why);
    } else if (path_ == "/close") {
      if (session.phase() == WindowPhase::kRunning) {
        why = "a module is being flashed: cancel it first";
      } else {
        done = session.ask(page_, WindowAction{WindowAction::kClose, 0}, &why);
      }
    } else if (path_ == "/cancel") {
      if (session.drives(page_, server_->clock())) {
        // As the person's Ctrl-C at the guide's terminal: the guide passes it on to the tool.
        requestInterruption();
        done = true;
      } else {
        why = "another page drives this run; this one only watches";
      }
    } else if (path_ == "/module") {
      const auto& request = parser_->get();
      done = session.upload(page_, std::string(request["X-Window-Node"]),
                            uploadedName(view(request["X-Window-Name"])), request.body(), &why);
    } else if (path_ == "/module/remove") {
      done = session.removeModule(page_, queryNumber(query_, "index", SIZE_MAX), &why);
    } else if (path_ == "/leave") {
      session.leave(page_, server_->clock());
      done = true;
    } else {
      answer(http::status::not_found, "text/plain; charset=utf-8", "Not found\n", false);
      return;
    }
    if (done) {
      answerJson(http::status::ok, Json{{"ok", true}});
    } else {
      answerJson(http::status::conflict, Json{{"error", why}});
    }
  }

  void answerJson(http::status status, const Json& body) {
    answer(status, "application/json", body.dump(-1, ' ', false, Json::error_handler_t::replace),
           false);
  }

  void answer(http::status status, std::string_view type, std::string body, bool drain) {
    if (answered_) {
      return;
    }
    answered_ = true;
    response_.result(status);
    response_.version(11);
    response_.set(http::field::content_type, beast::string_view(type.data(), type.size()));
    response_.set(http::field::cache_control, "no-store");
    response_.set("X-Frame-Options", "DENY");
    response_.set("X-Content-Type-Options", "nosniff");
    response_.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    response_.set("Referrer-Policy", "no-referrer");
    response_.set(http::field::connection, "close");
    response_.body() = std::move(body);
    response_.prepare_payload();
    stream_.expires_at(bounded(Clock::now(), kAnswerTime));
    http::async_write(stream_, response_,
                      [self = shared_from_this(), drain](beast::error_code error, size_t) {
                        self->onWritten(error, drain);
                      });
  }

  void onWritten(beast::error_code error, bool drain) {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    if (error || !drain) {
      return;
    }
    // The client may still be sending a body we will not read: take it in until it stops,
    // so that closing does not reset the connection before the answer is read; for a while
    // fixed when it began, which no byte extends.
    if (!draining_) {
      draining_ = true;
      stream_.expires_at(bounded(Clock::now(), kDrainTime));
    }
    stream_.async_read_some(asio::buffer(drainBuffer_),
                            [self = shared_from_this()](beast::error_code readError, size_t) {
                              if (!readError) {
                                self->onWritten(readError, true);
                              }
                            });
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  http::response<http::string_body> response_;
  asio::steady_timer timer_;
  WindowServerState* server_;
  std::string path_;
  std::string method_;
  std::string query_;
  std::string page_;
  size_t after_ = 0;
  unsigned version_ = 0;
  bool answered_ = false;
  bool admitted_ = false;
  bool waiting_ = false;
  bool draining_ = false;
  bool evicted_ = false;
  Clock::time_point accepted_;
  std::list<Connection*>::iterator entry_;
  std::array<char, 16384> drainBuffer_{};
};

void WindowServerState::accept() {
  acceptNext(&acceptor, [this](beast::error_code error, tcp::socket socket) {
    if (error || stopping) {
      return;
    }
    if (fromThisUser(&socket) && makeRoom()) {
      std::make_shared<Connection>(std::move(socket), this)->start();
    }
    accept();
  });
}

bool WindowServerState::fromThisUser(tcp::socket* socket) {
  beast::error_code remoteError;
  beast::error_code localError;
  tcp::endpoint remote = socket->remote_endpoint(remoteError);
  tcp::endpoint local = socket->local_endpoint(localError);
  PeerOwner owner = PeerOwner::kUnknown;
  std::string why;
  if (!remoteError && !localError && remote.address().is_v4() && local.address().is_v4()) {
    owner = peerOwner(PeerEnd{remote.address().to_v4().to_uint(), remote.port()},
                      PeerEnd{local.address().to_v4().to_uint(), local.port()}, &why);
  }
  if (peerAdmitted(owner)) {
    return true;
  }
  // Closed before a byte is read: another user's process is not served, not even the page.
  session->refused(owner == PeerOwner::kOtherUser ? "another user's connection"
                                                  : "a connection whose owner is not known");
  beast::error_code ignored;
  socket->close(ignored);
  return false;
}

bool WindowServerState::makeRoom() {
  if (live.size() < kMaxConnections) {
    return true;
  }
  for (Connection* connection : live) {
    if (!connection->admitted()) {
      connection->evict();
      return true;
    }
  }
  return false;
}

void WindowServerState::wakeWaiting() {
  std::vector<Connection*> woken;
  woken.swap(waiting);
  for (Connection* connection : woken) {
    connection->wake();
  }
}

WindowServer::WindowServer() : state_(std::make_unique<WindowServerState>()) {}

WindowServer::~WindowServer() {
  stop();
}

bool WindowServer::start(WindowSession* session, const std::string& token,
                         std::function<double()> clock, std::string* error) {
  WindowServerState& state = *state_;
  state.session = session;
  state.clock = std::move(clock);
  // Served only to this user's programs: where the system cannot tell whose a connection is,
  // the window does not start.
  if (!canTellPeers(error)) {
    return false;
  }
  beast::error_code code;
  // The loopback address only: no other computer can reach the window.
  tcp::endpoint endpoint(asio::ip::address_v4::loopback(), 0);
  openUninherited(&state.acceptor, &code);
  if (!code) {
    state.acceptor.bind(endpoint, code);
  }
  if (!code) {
    state.acceptor.listen(asio::socket_base::max_listen_connections, code);
  }
  if (code) {
    *error = "cannot listen on 127.0.0.1: " + code.message();
    return false;
  }
  state.port = state.acceptor.local_endpoint().port();
  state.gate.hostPort = "127.0.0.1:" + std::to_string(state.port);
  state.gate.token = token;
  WindowServerState* shared = state_.get();
  session->onChange([shared] { asio::post(shared->io, [shared] { shared->wakeWaiting(); }); });
  state.accept();
  // Started after the guide caught its stop signals: this thread keeps them blocked, and
  // they reach the guide's own.
  state.thread = std::thread([shared] { shared->io.run(); });
  return true;
}

int WindowServer::port() const {
  return state_->port;
}

void WindowServer::stop() {
  WindowServerState& state = *state_;
  if (!state.thread.joinable()) {
    return;
  }
  // The pages' last answer, that the guide is ending, goes out before the end: a page between
  // two questions would otherwise only find the guide gone.
  state.session->awaitEndRead(2000);
  asio::post(state.io, [shared = state_.get()] {
    shared->stopping = true;
    beast::error_code ignored;
    shared->acceptor.close(ignored);
    shared->wakeWaiting();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  state.session->onChange(nullptr);
  state.io.stop();
  state.thread.join();
}
