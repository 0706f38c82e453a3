// On Windows the virtual hand's switch is not relayed: a rehearsal's power commands cannot
// reach it, and the guide says so when asked to open it.
#include "switch_relay.h"

struct SwitchRelayState {};

SwitchRelay::SwitchRelay() : state_(std::make_unique<SwitchRelayState>()) {}
SwitchRelay::~SwitchRelay() = default;

bool SwitchRelay::open(std::string* problem) {
  *problem = "a rehearsal's power commands cannot reach the virtual hand on Windows";
  return false;
}

void SwitchRelay::serve(const std::function<std::string(const std::string&)>& /*handle*/) {}

void SwitchRelay::close() {}
