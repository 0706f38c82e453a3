// The window server's sockets as this platform makes them: never handed to a child (the tool,
// xdg-open, a browser it starts), which would keep the port or a page's connection.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <functional>

/// Opens |acceptor| for IPv4 with a socket that children do not inherit: made close-on-exec
/// (POSIX) or not inheritable (Windows) in the call that makes it.
void openUninherited(boost::asio::ip::tcp::acceptor* acceptor, boost::system::error_code* code);

/// What acceptNext() hands over: a new connection, or why there is none.
using Accepted = std::function<void(boost::system::error_code, boost::asio::ip::tcp::socket)>;

/// Waits for the next connection to |acceptor| and hands it to |accepted|, its socket never
/// inheritable by a child: on Linux accepted close-on-exec in one call; on Windows marked not
/// inheritable at once (the guide starts its children with their own handles only).
void acceptNext(boost::asio::ip::tcp::acceptor* acceptor, Accepted accepted);
