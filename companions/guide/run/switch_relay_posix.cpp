#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "switch_relay.h"

struct SwitchRelayState {
  std::string folder;
  std::string socketPath;
  int fd = -1;
};

namespace {

// Where the folder is made: the user's runtime folder when there is one, else the system's
// temporary folder.
std::string baseFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    return runtime;
  }
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

// One request: a line from a process of this user, answered and closed.
void answerOne(int client, const std::function<std::string(const std::string&)>& handle) {
  timeval patience{1, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
  std::string answer;
  ucred peer{};
  socklen_t length = sizeof(peer);
  if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != getuid()) {
    answer = "error the switch answers only its own user";
  } else {
    std::string request;
    char buffer[64];
    while (request.find('\n') == std::string::npos && request.size() < 64) {
      ssize_t got = read(client, buffer, sizeof(buffer));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      request.append(buffer, static_cast<size_t>(got));
    }
    request = request.substr(0, request.find('\n'));
    std::string why = request == "off" || request == "on"
                          ? handle(request)
                          : std::string("the switch is off or on, not \"") + request + "\"";
    answer = why.empty() ? "ok" : "error " + why;
  }
  answer += "\n";
  ssize_t ignored = write(client, answer.data(), answer.size());
  (void)ignored;
  ::close(client);
}

}  // namespace

SwitchRelay::SwitchRelay() : state_(std::make_unique<SwitchRelayState>()) {}

SwitchRelay::~SwitchRelay() {
  close();
}

bool SwitchRelay::open(std::string* problem) {
  close();
  std::string pattern = baseFolder() + "/nodletflash-switch-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *problem = "cannot make a folder for the virtual hand's switch in " + baseFolder() + ": " +
               std::strerror(errno);
    return false;
  }
  state_->folder = pattern;
  state_->socketPath = pattern + "/switch";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (state_->socketPath.size() >= sizeof(address.sun_path)) {
    *problem = "the virtual hand's switch would be too long a path: " + state_->socketPath;
    close();
    return false;
  }
  std::memcpy(address.sun_path, state_->socketPath.c_str(), state_->socketPath.size() + 1);
  state_->fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (state_->fd < 0 ||
      bind(state_->fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(state_->fd, 4) != 0) {
    *problem = "cannot open the virtual hand's switch at " + state_->socketPath + ": " +
               std::strerror(errno);
    close();
    return false;
  }
  setenv("NODLETFLASH_SIM_SWITCH", state_->socketPath.c_str(), 1);
  return true;
}

void SwitchRelay::serve(const std::function<std::string(const std::string&)>& handle) {
  while (state_->fd >= 0) {
    int client = accept4(state_->fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) {
        continue;
      }
      return;
    }
    // The request is read with a short patience of its own: the socket blocks.
    int flags = fcntl(client, F_GETFL);
    fcntl(client, F_SETFL, flags & ~O_NONBLOCK);
    answerOne(client, handle);
  }
}

void SwitchRelay::close() {
  if (state_->fd >= 0) {
    unsetenv("NODLETFLASH_SIM_SWITCH");
    ::close(state_->fd);
    state_->fd = -1;
  }
  if (!state_->socketPath.empty()) {
    unlink(state_->socketPath.c_str());
    state_->socketPath.clear();
  }
  if (!state_->folder.empty()) {
    rmdir(state_->folder.c_str());
    state_->folder.clear();
  }
}
