// Requests to the kernel's link control (rtnetlink) and the reading of its answers, written into
// buffers of the caller's: building one allocates nothing, so a request can be made ahead of time
// and sent from a signal handler. Nothing here prints or reads the environment.
#pragma once

#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "can/can_interface_linux.h"

/// One request message, ready to send to the kernel as it is.
struct LinkRequest {
  alignas(nlmsghdr) unsigned char bytes[256];
  /// The message's length; 0 while nothing is built.
  size_t length() const;
};

/// Asks for the link |name|. False when the name cannot be an interface's.
bool buildGetLinkRequest(LinkRequest* request, const std::string& name, uint32_t sequence);
/// Brings |name| up or down.
bool buildLinkFlagsRequest(LinkRequest* request, const std::string& name, bool up,
                           uint32_t sequence);
/// Sets the bit timing of the CAN controller |name|, which must be down: the kernel computes
/// the rest from a bit rate alone, or from the time quantum and the segments alone.
bool buildBitTimingRequest(LinkRequest* request, const std::string& name,
                           const CanBitTiming& timing, uint32_t sequence);

/// What an answer to a request is.
enum class LinkAnswer {
  kOther,      // not the answer to |sequence|: keep reading
  kLink,       // the link asked for, read into |state|
  kDone,       // the request was carried out
  kRefused,    // the kernel refused it
  kMalformed,  // not a message that can be read
};

/// Reads the messages of one datagram of |length| bytes as received for the answer to the
/// request |sequence|.
LinkAnswer readLinkAnswer(const void* datagram, size_t length, uint32_t sequence,
                          CanInterfaceState* state);
