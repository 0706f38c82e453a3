// The kernel's socket diagnostics (NETLINK_SOCK_DIAG) asked about one TCP socket, found by its
// addresses and ports: requests built and answers read with the kernel's own headers and macros,
// in buffers of the caller's, as src/can/link_request_linux does for rtnetlink.
#pragma once

#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>

#include "window_peer.h"

/// One request message, ready to send to the kernel as it is.
struct PeerDiagRequest {
  alignas(nlmsghdr) unsigned char bytes[128];
  /// The message's length; 0 while nothing is built.
  size_t length() const;
};

/// Asks for the TCP socket whose own end is |socketEnd| and whose other end is |otherEnd|: for
/// the connecting end of a connection to the window, the connection's peer and the window's own
/// end, in that order.
void buildPeerDiagRequest(PeerDiagRequest* request, const PeerEnd& socketEnd,
                          const PeerEnd& otherEnd, uint32_t sequence);

/// What an answer to a request is.
enum class PeerDiagAnswer {
  kOther,     // not the answer to |sequence|: keep reading
  kFound,     // the socket, its owner's uid in |uid|
  kNotFound,  // the kernel has no such socket, or refused the request
  kMalformed,
};

/// Reads the messages of one datagram of |length| bytes received for the request |sequence|
/// about |socketEnd| and |otherEnd|: a socket is only taken when it is the one asked about.
PeerDiagAnswer readPeerDiagAnswer(const void* datagram, size_t length, uint32_t sequence,
                                  const PeerEnd& socketEnd, const PeerEnd& otherEnd, uint32_t* uid);

/// Asks the kernel for the owner of the TCP socket |socketEnd| -> |otherEnd|: kFound with |uid|,
/// kNotFound, or kMalformed when the kernel could not be asked or did not answer in time.
PeerDiagAnswer askSocketOwner(const PeerEnd& socketEnd, const PeerEnd& otherEnd, uint32_t* uid);
