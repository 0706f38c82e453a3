// The adapter on Linux: a SocketCAN network interface driven by the kernel's driver.
//
// Closing a PCAN-Basic channel and opening it again resets the CAN controller and drops every
// frame still queued for sending. A raw socket alone does not: frames nobody acknowledges stay
// queued in the controller while the hand is off. So close() also stops the interface and open()
// starts it again. Interface control needs CAP_NET_ADMIN; without it open() fails at once rather
// than letting the handshake fail later in a confusing way.
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "can/can_frame_linux.h"
#include "can/can_interface_linux.h"
#include "can/can_link_linux.h"
#include "can/can_port.h"
#include "can/channel_lock.h"
#include "can/interface_restore_linux.h"

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

// One SocketCAN interface as the adapter's channel.
class SocketCanPort : public CanPort {
 public:
  SocketCanPort() : interface_(chooseCanInterface("/sys/class/net", kInterfaceConfigPath).name) {}

 protected:
  CanStatus doOpen() override {
    // No interface is known to be the hand's: touch none, take no lock.
    if (interface_.empty()) {
      return kNoInterface;
    }
    // The interface is this run's alone: another run's stops and starts would break it.
    if (!locked_) {
      if (!acquireChannelLock(channelLockName(interface_))) {
        return kChannelBusy;
      }
      locked_ = true;
    }
    CanInterfaceState state;
    if (!link_.read(interface_, &state)) {
      return kNoInterface;
    }
    // A name in the configuration file that is no CAN interface (an Ethernet port, a typing
    // error that names another link) is never stopped and started.
    if (!state.can) {
      return kNoInterface;
    }
    unsigned index = if_nametoindex(interface_.c_str());
    if (index == 0) {
      return kNoInterface;
    }
    CanOpenPlan plan = planCanOpen(state, kBitRate);
    if (plan.refuse) {
      return kWrongBitRate;
    }
    // From the first change on, the interface is left at the end as this run found it.
    if (!first_open_done_) {
      first_open_done_ = true;
      restoreInterfaceAtEnd(interface_, planCanRestore(state, plan.setBitRate));
    }
    if (plan.stop && !link_.setUp(interface_, false)) {
      return kInterfaceControl;
    }
    if (plan.setBitRate && !link_.setBitRate(interface_, kBitRate)) {
      return kInterfaceControl;
    }
    if (plan.start && !link_.setUp(interface_, true)) {
      return kInterfaceControl;
    }
    return openSocket(index);
  }

  CanStatus doClose() override {
    if (socket_ >= 0) {
      ::close(socket_);
      socket_ = -1;
    }
    return link_.setUp(interface_, false) ? kCanOk : kInterfaceControl;
  }

  CanStatus doRead(CanFrame* frame) override {
    can_frame received;
    ssize_t got = recv(socket_, &received, sizeof(received), MSG_DONTWAIT);
    if (got != static_cast<ssize_t>(sizeof(received))) {
      return kNoFrame;
    }
    return frameFromSocket(received, frame) ? kCanOk : kNoFrame;
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
  // A raw socket that receives data and remote frames, standard and extended, as the adapter
  // does; no error frames (they would count as answers) and none of our own frames.
  CanStatus openSocket(unsigned index) {
    int fd = socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
      return kSocket;
    }
    can_err_mask_t noErrors = 0;
    int noOwn = 0;
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(index);
    if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &noErrors, sizeof(noErrors)) != 0 ||
        setsockopt(fd, SOL_CAN_RAW, CAN_RAW_RECV_OWN_MSGS, &noOwn, sizeof(noOwn)) != 0 ||
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
  CanLink link_;
};

}  // namespace

std::unique_ptr<CanPort> makeAdapterPort() {
  return std::make_unique<SocketCanPort>();
}
