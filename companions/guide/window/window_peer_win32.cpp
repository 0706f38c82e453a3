// The TCP table (GetExtendedTcpTable) names the process that holds each end of a connection;
// that process's token names its user. A process this user may not open is another user's (or
// one it is kept out of). Wine fills the table from Linux's and names no process for a program
// that is not its own: such a connection cannot be told, and is served, with the token alone
// guarding it.
#include <winsock2.h>
// After winsock2.h, which they need.
#include <iphlpapi.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "window_peer.h"

namespace {

// The user of the token of |process|, copied into |sid|; false when it cannot be read.
bool userOf(HANDLE process, std::vector<unsigned char>* sid) {
  HANDLE token = nullptr;
  if (OpenProcessToken(process, TOKEN_QUERY, &token) == FALSE) {
    return false;
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  bool read =
      size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != FALSE;
  CloseHandle(token);
  if (!read) {
    return false;
  }
  PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  DWORD length = GetLengthSid(user);
  sid->assign(static_cast<unsigned char*>(user), static_cast<unsigned char*>(user) + length);
  return true;
}

// The process holding the connection's end |peer| -> |local|: its id, 0 when the table names
// none; false when the table cannot be read or has no such connection.
bool owningProcess(const PeerEnd& peer, const PeerEnd& local, DWORD* pid) {
  std::vector<unsigned char> table;
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    table.resize(size + 4096);
    size = static_cast<DWORD>(table.size());
    result = GetExtendedTcpTable(table.data(), &size, FALSE, AF_INET,
                                 TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
  }
  if (result != NO_ERROR) {
    return false;
  }
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[i];
    // Addresses in network byte order; each port in the low 16 bits, in network byte order.
    if (row.dwLocalAddr == htonl(peer.address) &&
        static_cast<uint16_t>(row.dwLocalPort) == htons(peer.port) &&
        row.dwRemoteAddr == htonl(local.address) &&
        static_cast<uint16_t>(row.dwRemotePort) == htons(local.port)) {
      *pid = row.dwOwningPid;
      return true;
    }
  }
  return false;
}

}  // namespace

PeerOwner peerOwner(const PeerEnd& peer, const PeerEnd& local, std::string* why) {
  DWORD pid = 0;
  if (!owningProcess(peer, local, &pid)) {
    *why = "the TCP table does not show it";
    return PeerOwner::kNotTold;
  }
  if (pid == 0) {
    *why = "the TCP table names no process for it";
    return PeerOwner::kNotTold;
  }
  if (pid == GetCurrentProcessId()) {
    *why = "this program's own";
    return PeerOwner::kThisUser;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    *why = "process " + std::to_string(pid) + ", which this user may not look into";
    return PeerOwner::kOtherUser;
  }
  std::vector<unsigned char> theirs;
  bool told = userOf(process, &theirs);
  CloseHandle(process);
  std::vector<unsigned char> ours;
  if (!told || !userOf(GetCurrentProcess(), &ours)) {
    *why = "process " + std::to_string(pid) + ", whose user cannot be read";
    return PeerOwner::kOtherUser;
  }
  if (theirs.size() != ours.size() || EqualSid(theirs.data(), ours.data()) == FALSE) {
    *why = "process " + std::to_string(pid) + " of another user";
    return PeerOwner::kOtherUser;
  }
  *why = "this user's";
  return PeerOwner::kThisUser;
}

bool peerAdmitted(PeerOwner owner) {
  return owner == PeerOwner::kThisUser || owner == PeerOwner::kNotTold;
}

bool canTellPeers(std::string* /*why*/) {
  return true;
}
