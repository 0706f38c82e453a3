#include <winsock2.h>
// After winsock2.h, which it needs.
#include <windows.h>

#include <utility>

#include "window_socket.h"

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

void openUninherited(tcp::acceptor* acceptor, boost::system::error_code* code) {
  SOCKET socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                             WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    *code = boost::system::error_code(WSAGetLastError(), boost::system::system_category());
    return;
  }
  acceptor->assign(tcp::v4(), socket, *code);
  if (*code) {
    closesocket(socket);
  }
}

void acceptNext(tcp::acceptor* acceptor, Accepted accepted) {
  acceptor->async_accept([accepted = std::move(accepted)](boost::system::error_code error,
                                                          tcp::socket socket) mutable {
    if (!error) {
      // Asio makes the accepting socket inheritable, as Windows makes every socket. The guide
      // starts the tool with its own three handles only, so none of these reaches it.
      SOCKET raw = socket.native_handle();
      SetHandleInformation(reinterpret_cast<HANDLE>(raw), HANDLE_FLAG_INHERIT, 0);
    }
    accepted(error, std::move(socket));
  });
}
