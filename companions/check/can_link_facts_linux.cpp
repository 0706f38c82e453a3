#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/route/link/can.h>

#include "linux_facts.h"

CanLinkFacts readCanLinkFacts(const std::string& name) {
  CanLinkFacts facts;
  nl_sock* socket = nl_socket_alloc();
  if (socket == nullptr) {
    return facts;
  }
  rtnl_link* link = nullptr;
  if (nl_connect(socket, NETLINK_ROUTE) == 0 &&
      rtnl_link_get_kernel(socket, 0, name.c_str(), &link) == 0) {
    facts.read = true;
    if (rtnl_link_is_can(link) != 0) {
      uint32_t clock = 0;
      facts.controller = rtnl_link_can_freq(link, &clock) == 0 && clock != 0;
      uint32_t bitRate = 0;
      if (rtnl_link_can_get_bitrate(link, &bitRate) == 0) {
        facts.bitRate = bitRate;
      }
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
