#include "can/can_link_linux.h"

#include <net/if.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/route/link/can.h>
#include <netlink/socket.h>

namespace {

// The link as the kernel has it now, or null.
rtnl_link* fetch(nl_sock* socket, const std::string& name) {
  rtnl_link* link = nullptr;
  if (rtnl_link_get_kernel(socket, 0, name.c_str(), &link) != 0) {
    return nullptr;
  }
  return link;
}

// Applies |change| to the interface |name| and waits for the kernel's answer. Sent as one
// RTM_NEWLINK request and never retried as RTM_SETLINK (as rtnl_link_change() would), which
// ignores a link kind's settings and so would report a bit rate set that was not.
bool apply(nl_sock* socket, const std::string& name, rtnl_link* change) {
  rtnl_link* link = fetch(socket, name);
  if (link == nullptr) {
    return false;
  }
  nl_msg* request = nullptr;
  bool ok = rtnl_link_build_change_request(link, change, 0, &request) == 0 &&
            nl_send_sync(socket, request) == 0;
  rtnl_link_put(link);
  return ok;
}

}  // namespace

CanLink::~CanLink() {
  if (socket_ != nullptr) {
    nl_socket_free(socket_);
  }
}

bool CanLink::connect() {
  if (socket_ != nullptr) {
    return true;
  }
  // The library prints debugging output when the environment asks for it; never here.
  nl_debug = 0;
  nl_sock* socket = nl_socket_alloc();
  if (socket == nullptr) {
    return false;
  }
  if (nl_connect(socket, NETLINK_ROUTE) != 0) {
    nl_socket_free(socket);
    return false;
  }
  socket_ = socket;
  return true;
}

bool CanLink::read(const std::string& name, CanInterfaceState* state) {
  if (!connect()) {
    return false;
  }
  rtnl_link* link = fetch(socket_, name);
  if (link == nullptr) {
    return false;
  }
  *state = CanInterfaceState();
  state->up = (rtnl_link_get_flags(link) & IFF_UP) != 0;
  // A CAN controller's link kind is "can"; a virtual interface's is "vcan". A controller
  // fresh from its driver reports no bit timing, hence no bit rate.
  state->controller = rtnl_link_is_can(link) != 0;
  uint32_t bitRate = 0;
  if (state->controller && rtnl_link_can_get_bitrate(link, &bitRate) == 0) {
    state->bitRate = bitRate;
  }
  rtnl_link_put(link);
  return true;
}

bool CanLink::setUp(const std::string& name, bool up) {
  if (!connect()) {
    return false;
  }
  rtnl_link* change = rtnl_link_alloc();
  if (change == nullptr) {
    return false;
  }
  if (up) {
    rtnl_link_set_flags(change, IFF_UP);
  } else {
    rtnl_link_unset_flags(change, IFF_UP);
  }
  bool ok = apply(socket_, name, change);
  rtnl_link_put(change);
  return ok;
}

bool CanLink::setBitRate(const std::string& name, uint32_t bitRate) {
  if (!connect()) {
    return false;
  }
  rtnl_link* change = rtnl_link_alloc();
  if (change == nullptr) {
    return false;
  }
  // The CAN calls refuse a link whose kind is not "can", so the kind is checked first.
  bool ok = rtnl_link_set_type(change, "can") == 0 && rtnl_link_is_can(change) != 0 &&
            rtnl_link_can_set_bitrate(change, bitRate) == 0 && apply(socket_, name, change);
  rtnl_link_put(change);
  return ok;
}
