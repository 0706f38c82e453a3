// The window's web server: HTTP on the loopback address only, serving the page, the run as it
// goes, and the driving page's actions, each request through the gate first.
#pragma once

#include <memory>
#include <string>

#include "window_session.h"

struct WindowServerState;

/// Serves one run's window until stopped, on a thread of its own.
class WindowServer {
 public:
  WindowServer();
  ~WindowServer();
  WindowServer(const WindowServer&) = delete;
  WindowServer& operator=(const WindowServer&) = delete;

  /// Listens on 127.0.0.1 on a port the system chooses, for |session| with |token|. |clock|
  /// gives the guide's time. False with |error| set when it cannot listen.
  bool start(WindowSession* session, const std::string& token, std::function<double()> clock,
             std::string* error);

  /// The port chosen; 0 before start().
  int port() const;

  /// Gives waiting pages the last word, then stops serving and closes every connection.
  void stop();

 private:
  std::unique_ptr<WindowServerState> state_;
};
