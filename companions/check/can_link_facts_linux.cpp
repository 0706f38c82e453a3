#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/route/link/can.h>

#include "can/can_link_linux.h"
#include "linux_facts.h"

CanLinkFacts readCanLinkFacts(const std::string& name) {
  CanLinkFacts facts;
  // Whether it is a controller and its bit rate, read as the tool reads them.
  CanInterfaceState state;
  CanLink tool;
  if (!tool.read(name, &state)) {
    return facts;
  }
  facts.read = true;
  facts.controller = state.controller;
  facts.bitRate = state.bitRate;
  nl_sock* socket = nl_socket_alloc();
  if (socket == nullptr) {
    return facts;
  }
  rtnl_link* link = nullptr;
  if (nl_connect(socket, NETLINK_ROUTE) == 0 &&
      rtnl_link_get_kernel(socket, 0, name.c_str(), &link) == 0) {
    if (rtnl_link_is_can(link) != 0) {
      facts.haveState = rtnl_link_can_state(link, &facts.state) == 0;
      can_berr_counter counters{};
      if (rtnl_link_can_berr(link, &counters) == 0) {
        facts.haveCounters = true;
        facts.txErrors = counters.txerr;
        facts.rxErrors = counters.rxerr;
      }
    }
    rtnl_link_put(link);
  }
  nl_socket_free(socket);
  return facts;
}
