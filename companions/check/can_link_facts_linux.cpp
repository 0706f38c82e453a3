#include "can/can_link_linux.h"
#include "linux_facts.h"

CanLinkFacts readCanLinkFacts(const std::string& name) {
  CanLinkFacts facts;
  // Read as the tool reads it.
  CanInterfaceState state;
  CanLink tool;
  if (!tool.read(name, &state)) {
    return facts;
  }
  facts.read = true;
  facts.controller = state.controller;
  facts.bitRate = state.bitRate;
  facts.haveState = state.haveControllerState;
  facts.state = state.controllerState;
  facts.haveCounters = state.haveErrorCounters;
  facts.txErrors = state.txErrors;
  facts.rxErrors = state.rxErrors;
  return facts;
}
