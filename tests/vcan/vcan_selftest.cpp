// Checks, inside the vcan guest, the behaviour of the kernel CAN stack that the SocketCAN
// binding relies on, and measures what one empty non-blocking receive costs.
//
// Prints one line per check ("ok - NAME" or "not ok - NAME: DETAIL"), "info" lines for facts
// that are observed but not asserted, "measure" lines with numbers, and a closing
// "N passed, M failed" line. Exits 1 if any check failed.
#include <errno.h>
#include <linux/can.h>
#include <linux/can/netlink.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "can/can_link_linux.h"
#include "check_tally.h"

namespace {

const char kInterface[] = "can0";

std::string errnoText(int err) {
  return std::string(strerrorname_np(err) ? strerrorname_np(err) : "?") + " (" +
         std::strerror(err) + ")";
}

double nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

/// Options of a raw socket that the checks vary.
struct RawOptions {
  bool receiveOwn = false;
  bool loopback = true;
};

/// A raw CAN socket bound to can0, non-blocking; -1 on failure (errno kept).
int openRaw(const RawOptions& options = {}) {
  int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
  if (fd < 0) {
    return -1;
  }
  int own = options.receiveOwn ? 1 : 0;
  int loop = options.loopback ? 1 : 0;
  sockaddr_can addr{};
  addr.can_family = AF_CAN;
  addr.can_ifindex = static_cast<int>(if_nametoindex(kInterface));
  if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_RECV_OWN_MSGS, &own, sizeof own) != 0 ||
      setsockopt(fd, SOL_CAN_RAW, CAN_RAW_LOOPBACK, &loop, sizeof loop) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

can_frame makeFrame(canid_t id, unsigned char byte) {
  can_frame frame{};
  frame.can_id = id;
  frame.len = 1;
  frame.data[0] = byte;
  return frame;
}

bool sendFrame(int fd, const can_frame& frame) {
  return write(fd, &frame, sizeof frame) == static_cast<ssize_t>(sizeof frame);
}

/// Waits up to |timeoutMs| for a frame and takes it. Returns false on timeout or error.
bool receiveFrame(int fd, can_frame* frame, int timeoutMs, int* flags = nullptr) {
  pollfd pfd{fd, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) != 1) {
    return false;
  }
  iovec iov{frame, sizeof *frame};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t n = recvmsg(fd, &msg, 0);
  if (flags) {
    *flags = msg.msg_flags;
  }
  return n == static_cast<ssize_t>(sizeof *frame);
}

bool interfaceUp() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq req{};
  std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", kInterface);
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &req) == 0 && (req.ifr_flags & IFF_UP);
  if (fd >= 0) {
    close(fd);
  }
  return up;
}

void checkInterface(Tally& tally) {
  unsigned index = if_nametoindex(kInterface);
  check(tally, index != 0, "can0 exists", errnoText(errno));
  check(tally, interfaceUp(), "can0 is up at start");
  // The binding tells a USB adapter from anything else by the driver behind the interface.
  struct stat st {};
  bool hasDriver = stat("/sys/class/net/can0/device/driver", &st) == 0;
  std::printf("info sysfs /sys/class/net/can0/device/driver %s\n",
              hasDriver ? "exists" : "does not exist");
  int type = -1;
  if (FILE* f = std::fopen("/sys/class/net/can0/type", "r")) {
    char text[32] = "";
    if (std::fgets(text, sizeof(text), f) != nullptr) {
      type = static_cast<int>(std::strtol(text, nullptr, 10));
    }
    std::fclose(f);
  }
  check(tally, type == 280, "can0 has link type ARPHRD_CAN (280)", "type " + std::to_string(type));
}

void checkBitTiming(Tally& tally) {
  CanLink link;
  CanInterfaceState state;
  check(tally, link.read(kInterface, &state), "the link state of can0 reads");
  check(tally, !state.controller && state.bitRate == 0,
        "vcan is no CAN controller and has no bit rate",
        "bitrate " + std::to_string(state.bitRate));

  // Setting a bit rate needs a CAN device driver; vcan has none. Tried while the interface is
  // down, as the binding would do it.
  check(tally, link.setUp(kInterface, false), "stopping vcan succeeds");
  check(tally, !interfaceUp(), "can0 is down after the stop");
  check(tally, !link.setBitRate(kInterface, 1000000), "vcan refuses a bit rate");
  check(tally, link.setUp(kInterface, true), "starting vcan succeeds");
  check(tally, interfaceUp(), "can0 is up after the start");
}

void checkDownInterface(Tally& tally) {
  CanLink link;
  // A socket bound while the interface was up learns of the stop as a pending socket error,
  // which the next call reports once; after that the stack itself refuses the frame.
  int fd = openRaw();
  check(tally, fd >= 0, "raw socket on can0 opens", errnoText(errno));
  if (fd < 0) {
    return;
  }
  link.setUp(kInterface, false);
  for (int attempt = 1; attempt <= 2; ++attempt) {
    errno = 0;
    bool sent = sendFrame(fd, makeFrame(11, 0x42));
    int err = errno;
    std::string name =
        "write " + std::to_string(attempt) + " after the interface went down fails with ENETDOWN";
    check(tally, !sent && err == ENETDOWN, name.c_str(), sent ? "write succeeded" : errnoText(err));
  }
  close(fd);

  // A socket bound while the interface is down gets no such error: only the stack refuses.
  fd = openRaw();
  check(tally, fd >= 0, "binding to a down interface succeeds", errnoText(errno));
  if (fd >= 0) {
    errno = 0;
    bool sent = sendFrame(fd, makeFrame(11, 0x42));
    int err = errno;
    check(tally, !sent && err == ENETDOWN, "write on a down interface fails with ENETDOWN",
          sent ? "write succeeded" : errnoText(err));
    close(fd);
  }
  link.setUp(kInterface, true);

  // The pending error outlives a stop and start of the interface.
  fd = openRaw();
  if (fd < 0) {
    return;
  }
  link.setUp(kInterface, false);
  link.setUp(kInterface, true);
  can_frame frame{};
  int firstErr = recv(fd, &frame, sizeof frame, 0) < 0 ? errno : 0;
  int secondErr = recv(fd, &frame, sizeof frame, 0) < 0 ? errno : 0;
  std::printf("info receives on a socket that lived through a stop and start: %s, then %s\n",
              errnoText(firstErr).c_str(), errnoText(secondErr).c_str());
  check(tally, firstErr == ENETDOWN && secondErr == EAGAIN,
        "a socket that lived through a stop reports ENETDOWN once, then EAGAIN",
        errnoText(firstErr) + ", then " + errnoText(secondErr));
  close(fd);
}

void checkSendReceive(Tally& tally) {
  int a = openRaw();
  int b = openRaw();
  if (a < 0 || b < 0) {
    check(tally, false, "two raw sockets on can0 open", errnoText(errno));
    return;
  }
  const char text[] = "%8A2";
  bool allSent = true;
  for (const char* p = text; *p; ++p) {
    allSent = sendFrame(a, makeFrame(11, static_cast<unsigned char>(*p))) && allSent;
  }
  check(tally, allSent, "frames written on one socket are accepted", errnoText(errno));

  std::string received;
  can_frame frame{};
  while (received.size() < std::strlen(text) && receiveFrame(b, &frame, 1000)) {
    if (frame.can_id == 11 && frame.len == 1) {
      received += static_cast<char>(frame.data[0]);
    }
  }
  check(tally, received == text, "another socket receives them whole and in order",
        "received \"" + received + "\"");
  check(tally, recv(b, &frame, sizeof frame, 0) < 0 && errno == EAGAIN,
        "an empty non-blocking socket answers EAGAIN");
  check(tally, !receiveFrame(a, &frame, 100),
        "the sender does not receive its own frames by default");
  close(a);
  close(b);

  // With CAN_RAW_RECV_OWN_MSGS the sender gets its frame back, marked MSG_CONFIRM.
  a = openRaw(RawOptions{.receiveOwn = true});
  b = openRaw();
  sendFrame(a, makeFrame(12, 0x55));
  int flags = 0;
  bool own = receiveFrame(a, &frame, 1000, &flags);
  check(tally, own && frame.can_id == 12 && (flags & MSG_CONFIRM),
        "CAN_RAW_RECV_OWN_MSGS returns the sender's frame with MSG_CONFIRM",
        own ? "flags " + std::to_string(flags) : "nothing received");
  check(tally, receiveFrame(b, &frame, 1000) && frame.can_id == 12,
        "others still receive a frame whose sender receives its own");
  close(a);
  close(b);

  // With CAN_RAW_LOOPBACK off nobody on this host sees the frame.
  a = openRaw(RawOptions{.receiveOwn = false, .loopback = false});
  b = openRaw();
  bool sent = sendFrame(a, makeFrame(13, 0x66));
  check(tally, sent && !receiveFrame(b, &frame, 200),
        "with CAN_RAW_LOOPBACK off other local sockets receive nothing");
  close(a);
  close(b);
}

void checkFlood(Tally& tally) {
  // Nobody reads b while a floods: vcan neither blocks nor fails the writes, it drops.
  int a = openRaw();
  int b = openRaw();
  if (a < 0 || b < 0) {
    check(tally, false, "two raw sockets on can0 open", errnoText(errno));
    return;
  }
  const int kFrames = 20000;
  int failedWrites = 0;
  int firstError = 0;
  for (int i = 0; i < kFrames; ++i) {
    if (!sendFrame(a, makeFrame(14, static_cast<unsigned char>(i)))) {
      if (failedWrites++ == 0) {
        firstError = errno;
      }
    }
  }
  int received = 0;
  can_frame frame{};
  while (receiveFrame(b, &frame, 200)) {
    ++received;
  }
  std::printf("info flood of %d frames: %d writes failed%s%s, %d received\n", kFrames, failedWrites,
              failedWrites ? " first with " : "", failedWrites ? errnoText(firstError).c_str() : "",
              received);
  check(tally, failedWrites == 0, "vcan accepts every write of a flood",
        std::to_string(failedWrites) + " failed, first with " + errnoText(firstError));
  close(a);
  close(b);
}

void measureEmptyReceive(Tally& tally) {
  int fd = openRaw();
  if (fd < 0) {
    check(tally, false, "raw socket for the measurement opens", errnoText(errno));
    return;
  }
  const long kCalls = 1000000;
  can_frame frame{};
  long unexpected = 0;
  double start = nowNs();
  for (long i = 0; i < kCalls; ++i) {
    if (recv(fd, &frame, sizeof frame, 0) >= 0 || errno != EAGAIN) {
      ++unexpected;
    }
  }
  double perCall = (nowNs() - start) / static_cast<double>(kCalls);
  check(tally, unexpected == 0, "every receive of the measurement found nothing",
        std::to_string(unexpected) + " did not");
  std::printf("measure recv-empty-ns %.1f (non-blocking recv() on an idle can0, %ld calls)\n",
              perCall, kCalls);

  // The cost of the cheapest system call, to tell the socket's share from the emulator's.
  start = nowNs();
  for (long i = 0; i < kCalls; ++i) {
    (void)getppid();
  }
  std::printf("measure getppid-ns %.1f (%ld calls)\n",
              (nowNs() - start) / static_cast<double>(kCalls), kCalls);
  close(fd);
}

}  // namespace

int main() {
  Tally tally;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  checkInterface(tally);
  checkBitTiming(tally);
  checkDownInterface(tally);
  checkSendReceive(tally);
  checkFlood(tally);
  measureEmptyReceive(tally);
  check(tally, interfaceUp(), "can0 is up at the end");
  std::printf("selftest: %d passed, %d failed\n", tally.passed, tally.failed);
  return tally.failed == 0 ? 0 : 1;
}
