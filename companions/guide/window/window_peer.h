// Who is at the other end of a connection to the window: on a shared computer the loopback
// address is reachable by every account's processes, and only this user's may be served.
//
// On Linux the kernel tells the owner of every socket through its socket diagnostics
// (NETLINK_SOCK_DIAG, inet_diag): the connecting socket, found by the connection's addresses and
// ports, belongs to the user whose process made it. On Windows the TCP table names the process
// that holds the connecting end, and that process's token its user; where the table names no
// process (Wine, for a program that is not its own), nothing more can be told.
#pragma once

#include <cstdint>
#include <string>

/// One end of an IPv4 connection; the address and the port in host byte order.
struct PeerEnd {
  uint32_t address = 0;
  uint16_t port = 0;
};

/// What is known of the process at the other end of a connection.
enum class PeerOwner {
  kThisUser,   // a process of the user this program runs as
  kOtherUser,  // another user's, or one this user may not look into
  kUnknown,    // the system did not tell (a connection already gone, no answer)
  kNotTold,    // Windows: the TCP table names no process for it
};

/// Whose is the connecting end |peer| of the connection to |local| (this program's end).
/// |why| says in a few words what was found, for the log.
PeerOwner peerOwner(const PeerEnd& peer, const PeerEnd& local, std::string* why);

/// Whether a connection whose other end was found |owner| is served: this user's, and on
/// Windows one the TCP table names no process for.
bool peerAdmitted(PeerOwner owner);

/// Whether this system tells the owner of a connection here; false with |why| when it does not
/// (a kernel without socket diagnostics): the window must not start then.
bool canTellPeers(std::string* why);
