// The situations the virtual hand can be put in, by name.
#pragma once

#include <string>

#include "hand_rig.h"

/// How the scheduling stand-in behaves.
enum class SchedulingFault {
  kNone,
  kAffinityReadFails,
  kClassReadFails,
  kClassWrong,
  kThreadReadFails,
  kThreadWrong,
};

/// Which adapter calls fail.
enum class AdapterFault {
  kNone,
  kQueryWriteWhileOn,  // every query write while the hand is on
  kWritesAfterFirst,   // every write after the first
  kOpen,               // every open
  kClose,              // every close (after the first open, as there is none before)
  kResetWrite,         // the reset frame's write
  kStartWrite,         // the start frame's write
  kDataWriteAt,        // the n-th data frame's write
  kCloseAfterStart,    // every close once the start frame was accepted: the final close
  kCallAt,             // the n-th adapter call of any kind
};

/// A named scenario: the hand, the node, the person, the adapter and the scheduler.
struct Scenario {
  std::string name;
  bool handOnAtStart = true;
  PersonPlan person = PersonPlan::kPowerCycle;
  bool lateOff = false;  // the person switches off late
  NodeBehaviour behaviour;
  AdapterFault adapterFault = AdapterFault::kNone;
  long n = 0;  // the count that kDataWriteAt and kCallAt name
  SchedulingFault scheduling = SchedulingFault::kNone;
};

/// Reads a scenario name such as "normal" or "silent-from=480". False for an unknown name.
bool parseScenario(const std::string& name, Scenario* scenario);

/// The names parseScenario knows, for a usage line.
const char* scenarioNames();

/// The rig set-up for |scenario| around node |node|.
RigConfig rigConfigFor(const Scenario& scenario, int node);
