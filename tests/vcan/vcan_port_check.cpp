// Checks, inside the vcan guest, the tool's SocketCAN binding through the port the tool uses, with
// a second raw socket on can0 standing for the node; then measures the go-ahead wait of the
// download (with --measure): 3,000,000 reads of an empty bus in a row, under the tool's own
// scheduling set-up.
//
// Prints "ok - NAME" or "not ok - NAME: DETAIL" per check, "measure" lines and a closing
// "N passed, M failed" line. Exits 1 if any check failed. The interface state the binding leaves
// behind after the process ends is for the calling script to check.
#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "can/can_port.h"
#include "check_tally.h"
#include "host/realtime.h"

namespace {

const char kInterface[] = "can0";
constexpr long kGoAheadReads = 3000000;

double nowSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool interfaceUp() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", kInterface);
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_UP);
  if (fd >= 0) {
    close(fd);
  }
  return up;
}

/// The node's side of the bus: a plain raw socket on can0, blocking, receiving everything.
class Peer {
 public:
  Peer() {
    fd_ = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    can_err_mask_t all = CAN_ERR_MASK;
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(if_nametoindex(kInterface));
    if (fd_ >= 0 && (setsockopt(fd_, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &all, sizeof all) != 0 ||
                     bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Peer() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  bool ok() const { return fd_ >= 0; }

  bool send(canid_t id, uint8_t length, uint8_t first) {
    can_frame frame{};
    frame.can_id = id;
    frame.len = length;
    frame.data[0] = first;
    return write(fd_, &frame, sizeof frame) == static_cast<ssize_t>(sizeof frame);
  }

  /// Waits up to |timeoutMs| for one frame; false when none came.
  bool receive(can_frame* frame, int timeoutMs) {
    while (true) {
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, timeoutMs) != 1) {
        return false;
      }
      // A stop of the interface is reported once as an error; it is not a frame.
      if (read(fd_, frame, sizeof *frame) == static_cast<ssize_t>(sizeof *frame)) {
        return true;
      }
    }
  }

 private:
  int fd_ = -1;
};

CanFrame frameOf(uint32_t id, uint8_t length, uint8_t first) {
  CanFrame frame{};
  frame.identifier = id;
  frame.type = 0;
  frame.length = length;
  frame.data[0] = first;
  return frame;
}

/// Lets frames sent by the peer reach the port's socket.
void settle() {
  usleep(20000);
}

void checkFrames(Tally& tally, CanPort& port, Peer& peer) {
  CanFrame got{};
  check(tally, port.read(&got) != kCanOk, "a read of an empty bus takes no frame");

  peer.send(0x10C, 1, 0x21);
  peer.send(0x10C, 1, 0x06);
  settle();
  bool first = port.read(&got) == kCanOk;
  check(tally,
        first && got.identifier == 0x10C && got.type == 0 && got.length == 1 && got.data[0] == 0x21,
        "a read takes the first of two frames, as it was sent");
  bool second = port.read(&got) == kCanOk && got.data[0] == 0x06;
  check(tally, second, "the next read takes the second");
  check(tally, port.read(&got) != kCanOk, "and the one after that none");

  // Remote frames and extended identifiers are received as the adapter library reports them.
  bool sent = peer.send(0x10C | CAN_RTR_FLAG, 4, 0) &&
              peer.send(0x1234567 | CAN_EFF_FLAG, 1, 0x33) &&
              peer.send(0x1234567 | CAN_EFF_FLAG | CAN_RTR_FLAG, 0, 0);
  settle();
  bool remote =
      port.read(&got) == kCanOk && got.identifier == 0x10C && got.type == 0x01 && got.length == 4;
  check(tally, sent && remote, "a remote frame is received, of type 0x01");
  bool extended = port.read(&got) == kCanOk && got.identifier == 0x1234567 && got.type == 0x02 &&
                  got.length == 1 && got.data[0] == 0x33;
  check(tally, sent && extended, "an extended data frame is received, of type 0x02");
  bool extendedRemote =
      port.read(&got) == kCanOk && got.identifier == 0x1234567 && got.type == 0x03;
  check(tally, sent && extendedRemote, "an extended remote frame is received, of type 0x03");

  // An error frame is no answer of the node.
  sent = peer.send(CAN_ERR_FLAG | CAN_ERR_BUSOFF, CAN_ERR_DLC, 0);
  settle();
  check(tally, sent && port.read(&got) != kCanOk, "an error frame is not received",
        sent ? "a frame was taken" : "the peer could not send it");

  check(tally, port.write(frameOf(12, 1, 0x41)) == kCanOk, "a write is accepted");
  can_frame seen{};
  bool arrived = peer.receive(&seen, 1000);
  check(tally, arrived && seen.can_id == 12 && seen.len == 1 && seen.data[0] == 0x41,
        "the node sees the written frame: identifier 12, length 1, data 41");
  settle();
  check(tally, port.read(&got) != kCanOk, "the port does not receive its own frame");
}

void checkCloseAndOpen(Tally& tally, CanPort& port, Peer& peer) {
  peer.send(0x10C, 1, 0x21);
  settle();
  check(tally, port.close() == kCanOk, "close succeeds");
  check(tally, !interfaceUp(), "close stops the interface");
  check(tally, port.write(frameOf(12, 1, 0x00)) != kCanOk, "a write on the closed port fails");
  check(tally, port.open() == kCanOk, "open after close succeeds");
  check(tally, interfaceUp(), "open starts the interface again");
  CanFrame got{};
  check(tally, port.read(&got) != kCanOk, "a frame received before the close is gone");
  check(tally, port.write(frameOf(12, 1, 0x00)) == kCanOk, "a write after the reopen is accepted");
  can_frame seen{};
  check(tally, peer.receive(&seen, 1000), "and reaches the node");
}

// The download's go-ahead wait when no go-ahead comes, under the tool's scheduling.
void measureGoAheadWait(Tally& tally, CanPort& port) {
  std::unique_ptr<SchedulingPlatform> scheduling = makeSystemScheduling();
  bool raised = setupRealtime(*scheduling);
  check(tally, raised, "the tool's scheduling set-up succeeds as root");
  CanFrame got{};
  long frames = 0;
  double start = nowSeconds();
  for (long i = 0; i < kGoAheadReads; ++i) {
    if (port.read(&got) == kCanOk) {
      ++frames;
    }
  }
  double seconds = nowSeconds() - start;
  check(tally, frames == 0, "no frame arrives on a silent bus", std::to_string(frames));
  std::printf("measure go-ahead wait: %ld reads of an empty bus in %.2f s, %.3f us per read%s\n",
              kGoAheadReads, seconds, seconds * 1e6 / static_cast<double>(kGoAheadReads),
              raised ? " (nice -20, one CPU)" : "");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  bool measure = argc == 2 && std::strcmp(argv[1], "--measure") == 0;
  Tally tally;
  bool upAtStart = interfaceUp();
  std::printf("info can0 is %s at start\n", upAtStart ? "up" : "down");
  std::unique_ptr<CanPort> port = makeAdapterPort();
  check(tally, port->open() == kCanOk, "open succeeds on a vcan interface");
  check(tally, interfaceUp(), "the interface is up after open");
  Peer peer;
  check(tally, peer.ok(), "a second socket listens on can0");
  if (tally.failed == 0) {
    checkFrames(tally, *port, peer);
    checkCloseAndOpen(tally, *port, peer);
    if (measure) {
      measureGoAheadWait(tally, *port);
    }
    check(tally, port->close() == kCanOk, "the final close succeeds");
  }
  std::printf("%d passed, %d failed\n", tally.passed, tally.failed);
  return tally.failed == 0 ? 0 : 1;
}
