// The adapter on Linux: a SocketCAN network interface driven by the kernel's driver.
//
// Closing a PCAN-Basic channel and opening it again resets the CAN controller and drops every
// frame still queued for sending. A raw socket alone does not: frames nobody acknowledges stay
// queued in the controller while the hand is off. So close() also stops the interface and open()
// starts it again. Interface control goes through libsocketcan and needs CAP_NET_ADMIN; without it
// open() fails at once rather than letting the handshake fail later in a confusing way.
#include <fcntl.h>
#include <libsocketcan.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "can/can_interface_linux.h"
#include "can/can_port.h"
#include "can/channel_lock.h"

namespace {

constexpr uint32_t kBitRate = 1000000;
// Failure statuses of this binding; callers only tell them from 0.
constexpr CanStatus kNoInterface = 1;
constexpr CanStatus kWrongBitRate = 2;
constexpr CanStatus kInterfaceControl = 3;
constexpr CanStatus kSocket = 4;
constexpr CanStatus kNoFrame = 5;
constexpr CanStatus kNotSent = 6;
constexpr CanStatus kChannelBusy = 7;

// The interface to bring back up when the process ends, if the run found it up.
char g_restore_interface[IF_NAMESIZE] = "";

// Leaves the interface as the run found it: up, at 1 Mbit/s.
void restoreInterface() {
  can_do_start(g_restore_interface);
}

bool isUp(const std::string& name, bool* up) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IF_NAMESIZE - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  ::close(fd);
  if (ok) {
    *up = (request.ifr_flags & IFF_UP) != 0;
  }
  return ok;
}

// One SocketCAN interface as the adapter's channel.
class SocketCanPort : public CanPort {
 public:
  SocketCanPort() : interface_(chooseCanInterface("/sys/class/net")) {}

 protected:
  CanStatus doOpen() override {
    // The interface is this run's alone: another run's stops and starts would break it.
    if (!locked_) {
      if (!acquireChannelLock(channelLockName(interface_))) {
        return kChannelBusy;
      }
      locked_ = true;
    }
    unsigned index = if_nametoindex(interface_.c_str());
    CanInterfaceState state;
    if (index == 0 || !isUp(interface_, &state.up)) {
      return kNoInterface;
    }
    const char* name = interface_.c_str();
    if (!first_open_done_) {
      first_open_done_ = true;
      // Only a CAN controller reports its clock. Asked once: libsocketcan complains on stderr
      // about every attribute an interface lacks, and a virtual interface lacks them all.
      can_clock clock{};
      controller_ = can_get_clock(name, &clock) == 0;
      if (state.up) {
        std::strncpy(g_restore_interface, name, IF_NAMESIZE - 1);
        std::atexit(restoreInterface);
      }
    }
    state.controller = controller_;
    can_bittiming timing{};
    if (controller_ && can_get_bittiming(name, &timing) == 0) {
      state.bitRate = timing.bitrate;
    }
    CanOpenPlan plan = planCanOpen(state, kBitRate);
    if (plan.refuse) {
      return kWrongBitRate;
    }
    if (plan.stop && can_do_stop(name) != 0) {
      return kInterfaceControl;
    }
    if (plan.setBitRate && can_set_bitrate(name, kBitRate) != 0) {
      return kInterfaceControl;
    }
    if (plan.start && can_do_start(name) != 0) {
      return kInterfaceControl;
    }
    return openSocket(index);
  }

  CanStatus doClose() override {
    if (socket_ >= 0) {
      ::close(socket_);
      socket_ = -1;
    }
    return can_do_stop(interface_.c_str()) == 0 ? kCanOk : kInterfaceControl;
  }

  CanStatus doRead(CanFrame* frame) override {
    can_frame received;
    ssize_t got = recv(socket_, &received, sizeof(received), MSG_DONTWAIT);
    if (got != static_cast<ssize_t>(sizeof(received))) {
      return kNoFrame;
    }
    bool extended = (received.can_id & CAN_EFF_FLAG) != 0;
    frame->identifier = received.can_id & (extended ? CAN_EFF_MASK : CAN_SFF_MASK);
    frame->type = extended ? 0x02 : 0x00;
    frame->length = received.len;
    std::memcpy(frame->data, received.data, sizeof(frame->data));
    return kCanOk;
  }

  CanStatus doWrite(const CanFrame& frame) override {
    can_frame out{};
    out.can_id = frame.identifier & CAN_SFF_MASK;
    out.len = frame.length > CAN_MAX_DLEN ? CAN_MAX_DLEN : frame.length;
    std::memcpy(out.data, frame.data, sizeof(out.data));
    ssize_t sent = send(socket_, &out, sizeof(out), MSG_DONTWAIT);
    return sent == static_cast<ssize_t>(sizeof(out)) ? kCanOk : kNotSent;
  }

 private:
  // A raw socket that receives data frames only: no error frames (they would count as answers),
  // no remote frames and none of our own frames.
  CanStatus openSocket(unsigned index) {
    int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
      return kSocket;
    }
    can_err_mask_t noErrors = 0;
    int noOwn = 0;
    can_filter dataOnly{0, CAN_RTR_FLAG};
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(index);
    if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &noErrors, sizeof(noErrors)) != 0 ||
        setsockopt(fd, SOL_CAN_RAW, CAN_RAW_RECV_OWN_MSGS, &noOwn, sizeof(noOwn)) != 0 ||
        setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &dataOnly, sizeof(dataOnly)) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      ::close(fd);
      return kSocket;
    }
    socket_ = fd;
    return kCanOk;
  }

  std::string interface_;
  int socket_ = -1;
  bool locked_ = false;
  bool first_open_done_ = false;
  bool controller_ = false;  // a CAN controller rather than a virtual interface
};

}  // namespace

std::unique_ptr<CanPort> makeAdapterPort() {
  return std::make_unique<SocketCanPort>();
}
