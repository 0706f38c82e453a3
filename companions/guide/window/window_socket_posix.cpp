#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "window_socket.h"

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

void openUninherited(tcp::acceptor* acceptor, boost::system::error_code* code) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *code = boost::system::error_code(errno, boost::system::system_category());
    return;
  }
  acceptor->assign(tcp::v4(), fd, *code);
  if (*code) {
    close(fd);
    return;
  }
  // accept4() below must find nothing rather than wait.
  acceptor->non_blocking(true, *code);
}

void acceptNext(tcp::acceptor* acceptor, Accepted accepted) {
  acceptor->async_wait(tcp::acceptor::wait_read, [acceptor, accepted = std::move(accepted)](
                                                     boost::system::error_code error) mutable {
    tcp::socket socket(acceptor->get_executor());
    if (error) {
      accepted(error, std::move(socket));
      return;
    }
    // Asio's own accept() leaves the descriptor inheritable until it is marked: a child
    // started meanwhile by the guide's thread would keep it.
    int fd = accept4(acceptor->native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED ||
          errno == EPROTO) {
        // Gone before it was taken, or taken already: wait for the next.
        acceptNext(acceptor, std::move(accepted));
        return;
      }
      accepted(boost::system::error_code(errno, boost::system::system_category()),
               std::move(socket));
      return;
    }
    socket.assign(tcp::v4(), fd, error);
    if (error) {
      close(fd);
    }
    accepted(error, std::move(socket));
  });
}
