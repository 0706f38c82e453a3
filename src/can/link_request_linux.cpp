// The kernel's own netlink macros build and walk the messages; every attribute is checked against
// the length the kernel gave before it is read.
#include "can/link_request_linux.h"

#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <cstring>

#include "can/interface_config_linux.h"

namespace {

nlmsghdr* header(LinkRequest* request) {
  return reinterpret_cast<nlmsghdr*>(request->bytes);
}

// Appends an attribute of |size| bytes at the message's end; the new attribute, or null when
// the buffer is full.
rtattr* appendAttribute(LinkRequest* request, unsigned short type, const void* data, size_t size) {
  nlmsghdr* message = header(request);
  size_t at = NLMSG_ALIGN(message->nlmsg_len);
  size_t length = RTA_LENGTH(size);
  if (at + RTA_ALIGN(length) > sizeof(request->bytes)) {
    return nullptr;
  }
  auto* attribute = reinterpret_cast<rtattr*>(request->bytes + at);
  attribute->rta_type = type;
  attribute->rta_len = static_cast<unsigned short>(length);
  if (size > 0) {
    std::memcpy(RTA_DATA(attribute), data, size);
  }
  message->nlmsg_len = static_cast<uint32_t>(at + RTA_ALIGN(length));
  return attribute;
}

// A nested attribute grows with what is appended after it until endNest().
rtattr* beginNest(LinkRequest* request, unsigned short type) {
  return appendAttribute(request, type, nullptr, 0);
}
void endNest(LinkRequest* request, rtattr* nest) {
  nest->rta_len = static_cast<unsigned short>(request->bytes + header(request)->nlmsg_len -
                                              reinterpret_cast<unsigned char*>(nest));
}

// A link message about the interface |name|, found by its name.
bool begin(LinkRequest* request, uint16_t type, uint16_t flags, const std::string& name,
           uint32_t sequence) {
  std::memset(request->bytes, 0, sizeof(request->bytes));
  if (!validInterfaceName(name)) {
    return false;
  }
  nlmsghdr* message = header(request);
  message->nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
  message->nlmsg_type = type;
  message->nlmsg_flags = flags;
  message->nlmsg_seq = sequence;
  auto* link = static_cast<ifinfomsg*>(NLMSG_DATA(message));
  link->ifi_family = AF_UNSPEC;
  if (appendAttribute(request, IFLA_IFNAME, name.c_str(), name.size() + 1) == nullptr) {
    std::memset(request->bytes, 0, sizeof(request->bytes));
    return false;
  }
  return true;
}

// Attributes of a nest or of a message: |data|, |length| bytes, into |table| by type.
void indexAttributes(const rtattr* data, size_t length, const rtattr** table, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    table[i] = nullptr;
  }
  auto remaining = static_cast<unsigned int>(length);
  for (const rtattr* attribute = data; RTA_OK(attribute, remaining);
       attribute = RTA_NEXT(attribute, remaining)) {
    unsigned short type = attribute->rta_type & NLA_TYPE_MASK;
    if (type < size) {
      table[type] = attribute;
    }
  }
}

template <typename T>
bool payload(const rtattr* attribute, T* value) {
  if (attribute == nullptr || RTA_PAYLOAD(attribute) < sizeof(T)) {
    return false;
  }
  std::memcpy(value, RTA_DATA(attribute), sizeof(T));
  return true;
}

void readCan(const rtattr* data, CanInterfaceState* state) {
  const rtattr* can[IFLA_CAN_MAX + 1];
  indexAttributes(static_cast<const rtattr*>(RTA_DATA(data)), RTA_PAYLOAD(data), can,
                  IFLA_CAN_MAX + 1);
  can_bittiming timing{};
  if (payload(can[IFLA_CAN_BITTIMING], &timing)) {
    state->timing.bitRate = timing.bitrate;
    state->timing.samplePoint = timing.sample_point;
    state->timing.tq = timing.tq;
    state->timing.propSeg = timing.prop_seg;
    state->timing.phaseSeg1 = timing.phase_seg1;
    state->timing.phaseSeg2 = timing.phase_seg2;
    state->timing.sjw = timing.sjw;
    state->timing.brp = timing.brp;
    state->bitRate = timing.bitrate;
  }
  state->fixedBitRates =
      can[IFLA_CAN_BITRATE_CONST] != nullptr && can[IFLA_CAN_BITTIMING_CONST] == nullptr;
  state->haveControllerState = payload(can[IFLA_CAN_STATE], &state->controllerState);
  can_berr_counter counters{};
  if (payload(can[IFLA_CAN_BERR_COUNTER], &counters)) {
    state->haveErrorCounters = true;
    state->txErrors = counters.txerr;
    state->rxErrors = counters.rxerr;
  }
}

void readLink(const nlmsghdr* message, CanInterfaceState* state) {
  *state = CanInterfaceState();
  const auto* link = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
  state->up = (link->ifi_flags & IFF_UP) != 0;
  state->can = link->ifi_type == ARPHRD_CAN;
  const rtattr* attributes[IFLA_MAX + 1];
  indexAttributes(IFLA_RTA(link), IFLA_PAYLOAD(message), attributes, IFLA_MAX + 1);
  const rtattr* linkInfo = attributes[IFLA_LINKINFO];
  if (linkInfo == nullptr) {
    return;
  }
  const rtattr* info[IFLA_INFO_MAX + 1];
  indexAttributes(static_cast<const rtattr*>(RTA_DATA(linkInfo)), RTA_PAYLOAD(linkInfo), info,
                  IFLA_INFO_MAX + 1);
  // A CAN controller's link kind is "can"; a virtual interface's is "vcan".
  const rtattr* kind = info[IFLA_INFO_KIND];
  static const char kCan[] = "can";
  state->controller = kind != nullptr && RTA_PAYLOAD(kind) >= sizeof(kCan) &&
                      std::memcmp(RTA_DATA(kind), kCan, sizeof(kCan)) == 0;
  if (state->controller && info[IFLA_INFO_DATA] != nullptr) {
    readCan(info[IFLA_INFO_DATA], state);
  }
}

}  // namespace

size_t LinkRequest::length() const {
  nlmsghdr message{};
  std::memcpy(&message, bytes, sizeof(message));
  return message.nlmsg_len;
}

bool buildGetLinkRequest(LinkRequest* request, const std::string& name, uint32_t sequence) {
  return begin(request, RTM_GETLINK, NLM_F_REQUEST, name, sequence);
}

bool buildLinkFlagsRequest(LinkRequest* request, const std::string& name, bool up,
                           uint32_t sequence) {
  if (!begin(request, RTM_NEWLINK, NLM_F_REQUEST | NLM_F_ACK, name, sequence)) {
    return false;
  }
  auto* link = static_cast<ifinfomsg*>(NLMSG_DATA(header(request)));
  link->ifi_flags = up ? IFF_UP : 0;
  link->ifi_change = IFF_UP;
  return true;
}

bool buildBitTimingRequest(LinkRequest* request, const std::string& name,
                           const CanBitTiming& timing, uint32_t sequence) {
  if (!begin(request, RTM_NEWLINK, NLM_F_REQUEST | NLM_F_ACK, name, sequence)) {
    return false;
  }
  can_bittiming sent{};
  sent.bitrate = timing.bitRate;
  sent.sample_point = timing.samplePoint;
  sent.tq = timing.tq;
  sent.prop_seg = timing.propSeg;
  sent.phase_seg1 = timing.phaseSeg1;
  sent.phase_seg2 = timing.phaseSeg2;
  sent.sjw = timing.sjw;
  sent.brp = timing.brp;
  static const char kCan[] = "can";
  // The kind names the link type whose settings IFLA_INFO_DATA carries.
  rtattr* linkInfo = beginNest(request, IFLA_LINKINFO);
  bool ok = linkInfo != nullptr && appendAttribute(request, IFLA_INFO_KIND, kCan, sizeof(kCan));
  rtattr* data = ok ? beginNest(request, IFLA_INFO_DATA) : nullptr;
  ok = data != nullptr && appendAttribute(request, IFLA_CAN_BITTIMING, &sent, sizeof(sent));
  if (!ok) {
    std::memset(request->bytes, 0, sizeof(request->bytes));
    return false;
  }
  endNest(request, data);
  endNest(request, linkInfo);
  return true;
}

LinkAnswer readLinkAnswer(const void* datagram, size_t length, uint32_t sequence,
                          CanInterfaceState* state) {
  auto remaining = static_cast<unsigned int>(length);
  const auto* message = static_cast<const nlmsghdr*>(datagram);
  if (!NLMSG_OK(message, remaining)) {
    return LinkAnswer::kMalformed;
  }
  for (; NLMSG_OK(message, remaining); message = NLMSG_NEXT(message, remaining)) {
    if (message->nlmsg_seq != sequence) {
      continue;
    }
    if (message->nlmsg_type == NLMSG_ERROR) {
      if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
        return LinkAnswer::kMalformed;
      }
      const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
      return error->error == 0 ? LinkAnswer::kDone : LinkAnswer::kRefused;
    }
    if (message->nlmsg_type == RTM_NEWLINK) {
      if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return LinkAnswer::kMalformed;
      }
      if (state != nullptr) {
        readLink(message, state);
      }
      return LinkAnswer::kLink;
    }
  }
  return LinkAnswer::kOther;
}
