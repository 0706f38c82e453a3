// Control of a CAN network interface through the kernel's link interface (rtnetlink): its
// state, its bit rate, up and down. Failures are return values; nothing is printed.
#pragma once

#include <linux/netlink.h>

#include <array>
#include <cstdint>
#include <string>

#include "can/can_interface_linux.h"
#include "can/link_request_linux.h"

/// A connection to the kernel's link control, made at the first call and kept. Changing an
/// interface needs CAP_NET_ADMIN.
class CanLink {
 public:
  CanLink() = default;
  ~CanLink();
  CanLink(const CanLink&) = delete;
  CanLink& operator=(const CanLink&) = delete;

  /// Reads the state of the interface |name|. False when it does not exist or cannot be read.
  bool read(const std::string& name, CanInterfaceState* state);
  /// Brings the interface up or down.
  bool setUp(const std::string& name, bool up);
  /// Sets a CAN controller's bit rate, leaving the sample point to the driver; the interface
  /// must be down.
  bool setBitRate(const std::string& name, uint32_t bitRate);
  /// Sets a CAN controller's bit timing as buildBitTimingRequest() takes it; the interface must
  /// be down.
  bool setBitTiming(const std::string& name, const CanBitTiming& timing);

 private:
  bool connect();
  // Sends |request| and reads its answer into |state| (which may be null).
  LinkAnswer exchange(const LinkRequest& request, CanInterfaceState* state);

  int socket_ = -1;
  uint32_t sequence_ = 0;
  // Room for a link's every attribute (its statistics alone take some hundreds of bytes).
  alignas(nlmsghdr) std::array<unsigned char, 32768> answer_{};
};
