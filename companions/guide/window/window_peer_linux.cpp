#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "peer_diag_linux.h"
#include "window_peer.h"

namespace {

std::string uidText(uint32_t uid) {
  return "uid " + std::to_string(uid);
}

// The address and port |fd| is bound to (|own|) or connected to.
bool endOf(int fd, bool own, PeerEnd* end) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  int got = own ? getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length)
                : getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (got != 0 || address.sin_family != AF_INET) {
    return false;
  }
  end->address = ntohl(address.sin_addr.s_addr);
  end->port = ntohs(address.sin_port);
  return true;
}

}  // namespace

PeerOwner peerOwner(const PeerEnd& peer, const PeerEnd& local, std::string* why) {
  uint32_t uid = 0;
  switch (askSocketOwner(peer, local, &uid)) {
    case PeerDiagAnswer::kFound:
      if (uid == geteuid()) {
        *why = "this user's";
        return PeerOwner::kThisUser;
      }
      *why = "another user's (" + uidText(uid) + ")";
      return PeerOwner::kOtherUser;
    case PeerDiagAnswer::kNotFound:
      *why = "its socket is gone";
      return PeerOwner::kUnknown;
    case PeerDiagAnswer::kOther:
    case PeerDiagAnswer::kMalformed:
      break;
  }
  *why = "the kernel did not tell whose it is";
  return PeerOwner::kUnknown;
}

bool peerAdmitted(PeerOwner owner) {
  return owner == PeerOwner::kThisUser;
}

bool canTellPeers(std::string* why) {
  // A connection of this program's own, from a socket of its own, asked about as any other.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  PeerEnd peer;
  PeerEnd local;
  bool connected = listener >= 0 && client >= 0 &&
                   bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                   listen(listener, 1) == 0 &&
                   getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                   connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                   endOf(client, true, &peer) && endOf(client, false, &local);
  std::string error = connected ? "" : std::strerror(errno);
  std::string found;
  PeerOwner owner = connected ? peerOwner(peer, local, &found) : PeerOwner::kUnknown;
  if (client >= 0) {
    close(client);
  }
  if (listener >= 0) {
    close(listener);
  }
  if (!connected) {
    *why = "cannot make a connection on 127.0.0.1 to try it: " + error;
    return false;
  }
  if (owner != PeerOwner::kThisUser) {
    *why =
        "the kernel's socket diagnostics (NETLINK_SOCK_DIAG, inet_diag) do not tell who makes a "
        "connection here (" +
        found + "), and the window is served only to this user's programs";
    return false;
  }
  return true;
}
