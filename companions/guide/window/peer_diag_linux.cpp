#include "peer_diag_linux.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

nlmsghdr* header(PeerDiagRequest* request) {
  return reinterpret_cast<nlmsghdr*>(request->bytes);
}

bool sameSocket(const inet_diag_sockid& id, const PeerEnd& socketEnd, const PeerEnd& otherEnd) {
  return id.idiag_sport == htons(socketEnd.port) && id.idiag_dport == htons(otherEnd.port) &&
         id.idiag_src[0] == htonl(socketEnd.address) && id.idiag_dst[0] == htonl(otherEnd.address);
}

}  // namespace

size_t PeerDiagRequest::length() const {
  nlmsghdr message{};
  std::memcpy(&message, bytes, sizeof(message));
  return message.nlmsg_len;
}

void buildPeerDiagRequest(PeerDiagRequest* request, const PeerEnd& socketEnd,
                          const PeerEnd& otherEnd, uint32_t sequence) {
  static_assert(NLMSG_SPACE(sizeof(inet_diag_req_v2)) <= sizeof(PeerDiagRequest::bytes));
  std::memset(request->bytes, 0, sizeof(request->bytes));
  nlmsghdr* message = header(request);
  message->nlmsg_len = NLMSG_LENGTH(sizeof(inet_diag_req_v2));
  message->nlmsg_type = SOCK_DIAG_BY_FAMILY;
  // No NLM_F_DUMP: the one socket with exactly these addresses and ports.
  message->nlmsg_flags = NLM_F_REQUEST;
  message->nlmsg_seq = sequence;
  auto* asked = static_cast<inet_diag_req_v2*>(NLMSG_DATA(message));
  asked->sdiag_family = AF_INET;
  asked->sdiag_protocol = IPPROTO_TCP;
  asked->idiag_states = ~0U;
  asked->id.idiag_sport = htons(socketEnd.port);
  asked->id.idiag_dport = htons(otherEnd.port);
  asked->id.idiag_src[0] = htonl(socketEnd.address);
  asked->id.idiag_dst[0] = htonl(otherEnd.address);
  asked->id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  asked->id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
}

PeerDiagAnswer readPeerDiagAnswer(const void* datagram, size_t length, uint32_t sequence,
                                  const PeerEnd& socketEnd, const PeerEnd& otherEnd,
                                  uint32_t* uid) {
  auto remaining = static_cast<unsigned int>(length);
  const auto* message = static_cast<const nlmsghdr*>(datagram);
  if (!NLMSG_OK(message, remaining)) {
    return PeerDiagAnswer::kMalformed;
  }
  for (; NLMSG_OK(message, remaining); message = NLMSG_NEXT(message, remaining)) {
    if (message->nlmsg_seq != sequence) {
      continue;
    }
    if (message->nlmsg_type == NLMSG_ERROR) {
      if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
        return PeerDiagAnswer::kMalformed;
      }
      return PeerDiagAnswer::kNotFound;
    }
    if (message->nlmsg_type == SOCK_DIAG_BY_FAMILY) {
      if (message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        return PeerDiagAnswer::kMalformed;
      }
      inet_diag_msg found{};
      std::memcpy(&found, NLMSG_DATA(message), sizeof(found));
      if (found.idiag_family != AF_INET || !sameSocket(found.id, socketEnd, otherEnd)) {
        return PeerDiagAnswer::kNotFound;
      }
      *uid = found.idiag_uid;
      return PeerDiagAnswer::kFound;
    }
  }
  return PeerDiagAnswer::kOther;
}

PeerDiagAnswer askSocketOwner(const PeerEnd& socketEnd, const PeerEnd& otherEnd, uint32_t* uid) {
  int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) {
    return PeerDiagAnswer::kMalformed;
  }
  // The kernel answers while the request is sent; the bound only keeps a lost answer from
  // holding the window's server.
  timeval bound{};
  bound.tv_sec = 1;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound));
  static std::atomic<uint32_t> sequences{0};
  uint32_t sequence = ++sequences;
  PeerDiagRequest request;
  buildPeerDiagRequest(&request, socketEnd, otherEnd, sequence);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = sendto(fd, request.bytes, request.length(), 0, reinterpret_cast<sockaddr*>(&kernel),
                  sizeof(kernel));
  } while (sent < 0 && errno == EINTR);
  PeerDiagAnswer verdict = PeerDiagAnswer::kMalformed;
  if (sent == static_cast<ssize_t>(request.length())) {
    alignas(nlmsghdr) std::array<unsigned char, 8192> answer{};
    for (;;) {
      sockaddr_nl from{};
      socklen_t fromLength = sizeof(from);
      ssize_t got = recvfrom(fd, answer.data(), answer.size(), MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0 || static_cast<size_t>(got) > answer.size()) {
        break;
      }
      if (from.nl_pid != 0) {
        continue;  // only the kernel answers
      }
      PeerDiagAnswer read = readPeerDiagAnswer(answer.data(), static_cast<size_t>(got), sequence,
                                               socketEnd, otherEnd, uid);
      if (read != PeerDiagAnswer::kOther) {
        verdict = read;
        break;
      }
    }
  }
  close(fd);
  return verdict;
}
