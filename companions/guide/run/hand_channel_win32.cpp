// On Windows the guide neither shares the adapter with the tool nor passes a pipe to the
// virtual hand: the power cycle is followed by the clock alone.
#include "hand_channel.h"

struct HandChannelState {};

HandChannel::HandChannel() : state_(std::make_unique<HandChannelState>()) {}
HandChannel::~HandChannel() = default;

PowerCycleStep::Source HandChannel::open(bool /*rehearse*/, int /*node*/,
                                         std::vector<std::string>* /*argv*/, bool /*orders*/) {
  return PowerCycleStep::kClock;
}

bool HandChannel::order(const std::string& /*order*/) {
  return false;
}

void HandChannel::closeOrders() {}

void HandChannel::childStarted() {}

void HandChannel::drain(PowerCycleWatch* /*watch*/, double /*now*/) {}

void HandChannel::stopListening() {}

void HandChannel::close() {}

std::string toolsInterfaceName() {
  return {};
}
