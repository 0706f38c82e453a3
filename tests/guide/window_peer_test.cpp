// Who connects to the window: the kernel's socket diagnostics asked about a connection's other
// end, as built and read here, and as the kernel answers for this user and for another.
#include "window_peer.h"

#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "peer_diag_linux.h"

namespace {

constexpr uint32_t kLoopback = 0x7f000001;

// The kernel's answer about |socketEnd| -> |otherEnd|, owned by |uid|.
struct Answer {
  alignas(nlmsghdr) unsigned char bytes[NLMSG_SPACE(sizeof(inet_diag_msg))] = {};
  Answer(const PeerEnd& socketEnd, const PeerEnd& otherEnd, uint32_t uid, uint32_t sequence) {
    auto* message = reinterpret_cast<nlmsghdr*>(bytes);
    message->nlmsg_len = NLMSG_LENGTH(sizeof(inet_diag_msg));
    message->nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message->nlmsg_seq = sequence;
    auto* found = static_cast<inet_diag_msg*>(NLMSG_DATA(message));
    found->idiag_family = AF_INET;
    found->id.idiag_sport = htons(socketEnd.port);
    found->id.idiag_dport = htons(otherEnd.port);
    found->id.idiag_src[0] = htonl(socketEnd.address);
    found->id.idiag_dst[0] = htonl(otherEnd.address);
    found->idiag_uid = uid;
  }
};

TEST(WindowPeerTest, TheAnswerIsTakenOnlyForTheSocketAskedAbout) {
  PeerEnd peer{kLoopback, 40000};
  PeerEnd window{kLoopback, 41000};
  PeerDiagRequest request;
  buildPeerDiagRequest(&request, peer, window, 9);
  const auto* message = reinterpret_cast<const nlmsghdr*>(request.bytes);
  EXPECT_EQ(request.length(), NLMSG_LENGTH(sizeof(inet_diag_req_v2)));
  EXPECT_EQ(message->nlmsg_type, SOCK_DIAG_BY_FAMILY);
  EXPECT_EQ(message->nlmsg_flags & NLM_F_DUMP, 0) << "one socket, not a dump of all";
  const auto* asked = static_cast<const inet_diag_req_v2*>(NLMSG_DATA(message));
  EXPECT_EQ(asked->sdiag_family, AF_INET);
  EXPECT_EQ(asked->sdiag_protocol, IPPROTO_TCP);
  EXPECT_EQ(ntohs(asked->id.idiag_sport), 40000);
  EXPECT_EQ(ntohs(asked->id.idiag_dport), 41000);

  uint32_t uid = 0;
  Answer answer(peer, window, 1234, 9);
  EXPECT_EQ(readPeerDiagAnswer(answer.bytes, sizeof(answer.bytes), 9, peer, window, &uid),
            PeerDiagAnswer::kFound);
  EXPECT_EQ(uid, 1234U);
  EXPECT_EQ(readPeerDiagAnswer(answer.bytes, sizeof(answer.bytes), 10, peer, window, &uid),
            PeerDiagAnswer::kOther);
  // The window's own end of the connection is not the peer's.
  Answer ours(window, peer, 0, 9);
  EXPECT_EQ(readPeerDiagAnswer(ours.bytes, sizeof(ours.bytes), 9, peer, window, &uid),
            PeerDiagAnswer::kNotFound);
  for (size_t cut = 0; cut < sizeof(answer.bytes); ++cut) {
    EXPECT_NE(readPeerDiagAnswer(answer.bytes, cut, 9, peer, window, &uid), PeerDiagAnswer::kFound)
        << cut;
  }
  // ENOENT: no such socket.
  alignas(nlmsghdr) unsigned char refusal[NLMSG_SPACE(sizeof(nlmsgerr))] = {};
  auto* error = reinterpret_cast<nlmsghdr*>(refusal);
  error->nlmsg_len = NLMSG_LENGTH(sizeof(nlmsgerr));
  error->nlmsg_type = NLMSG_ERROR;
  error->nlmsg_seq = 9;
  static_cast<nlmsgerr*>(NLMSG_DATA(error))->error = -2;
  EXPECT_EQ(readPeerDiagAnswer(refusal, sizeof(refusal), 9, peer, window, &uid),
            PeerDiagAnswer::kNotFound);
}

// A listening socket on 127.0.0.1, its end in |end|.
int listenOnLoopback(PeerEnd* end) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(kLoopback);
  socklen_t length = sizeof(address);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(fd, 4) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return -1;
  }
  *end = PeerEnd{kLoopback, ntohs(address.sin_port)};
  return fd;
}

// Accepts a connection on |listener| and finds whose its other end is.
PeerOwner ownerOfNext(int listener, const PeerEnd& window, std::string* why) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  int fd = accept(listener, reinterpret_cast<sockaddr*>(&address), &length);
  if (fd < 0) {
    return PeerOwner::kUnknown;
  }
  PeerOwner owner =
      peerOwner(PeerEnd{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)}, window, why);
  close(fd);
  return owner;
}

// Connects to |window| from a process of its own, as the account |uid| (this process's when
// |uid| is -1), and holds the connection until the pipe |release| is closed.
pid_t connectFrom(int uid, const PeerEnd& window, const int release[2]) {
  pid_t pid = fork();
  if (pid != 0) {
    return pid;
  }
  close(release[1]);
  if (uid >= 0 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(uid)) != 0 ||
                   setuid(static_cast<uid_t>(uid)) != 0)) {
    _exit(3);
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(window.address);
  address.sin_port = htons(window.port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    _exit(4);
  }
  char byte = 0;
  ssize_t ignored = read(release[0], &byte, 1);
  (void)ignored;
  _exit(0);
}

TEST(WindowPeerTest, TheKernelTellsThisUsersConnectionFromAnotherUsers) {
  std::string why;
  if (!canTellPeers(&why)) {
    GTEST_SKIP() << why;  // e.g. under qemu's user-mode emulator, which passes no sock_diag on
  }
  PeerEnd window;
  int listener = listenOnLoopback(&window);
  ASSERT_GE(listener, 0);
  int release[2];
  ASSERT_EQ(pipe(release), 0);

  pid_t mine = connectFrom(-1, window, release);
  EXPECT_EQ(ownerOfNext(listener, window, &why), PeerOwner::kThisUser) << why;
  EXPECT_TRUE(peerAdmitted(PeerOwner::kThisUser));

  pid_t nobody = -1;
  if (geteuid() == 0) {
    nobody = connectFrom(65534, window, release);
    EXPECT_EQ(ownerOfNext(listener, window, &why), PeerOwner::kOtherUser) << why;
    EXPECT_NE(why.find("uid 65534"), std::string::npos) << why;
    EXPECT_FALSE(peerAdmitted(PeerOwner::kOtherUser));
  }
  // A connection that is not there at all.
  EXPECT_EQ(peerOwner(PeerEnd{kLoopback, 1}, window, &why), PeerOwner::kUnknown);
  EXPECT_FALSE(peerAdmitted(PeerOwner::kUnknown));

  close(release[1]);
  for (pid_t pid : {mine, nobody}) {
    int status = 0;
    if (pid > 0) {
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
  }
  close(release[0]);
  close(listener);
  if (geteuid() != 0) {
    GTEST_SKIP() << "another account's connection needs root to make";
  }
}

}  // namespace
