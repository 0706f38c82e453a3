// Where a rehearsal's power commands reach its virtual hand: `nodletflash-sim --switch=off|on`
// connects to a socket in a folder of the guide's own (mode 0700, so no other account can
// reach it), named by NODLETFLASH_SIM_SWITCH in the guide's environment, which the commands
// inherit, while the relay is open; the guide answers each
// request with what became of it. Each rehearsal has its own folder: two never switch each
// other's hand.
#pragma once

#include <functional>
#include <memory>
#include <string>

struct SwitchRelayState;

class SwitchRelay {
 public:
  SwitchRelay();
  ~SwitchRelay();
  SwitchRelay(const SwitchRelay&) = delete;
  SwitchRelay& operator=(const SwitchRelay&) = delete;

  /// Makes the folder and the socket and names it in the environment. False with |problem|
  /// set when it cannot.
  bool open(std::string* problem);
  /// Answers the requests that have come, without waiting: |handle| gets "off" or "on" and
  /// returns "" when it was passed on, else why not.
  void serve(const std::function<std::string(const std::string& request)>& handle);
  /// Removes the socket, the folder and the name.
  void close();

 private:
  std::unique_ptr<SwitchRelayState> state_;
};
