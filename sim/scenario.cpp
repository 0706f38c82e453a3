#include "scenario.h"

#include <cstdlib>

#include "frame_kind.h"

namespace {

// Reads "PREFIX=N" with N a positive decimal count.
bool parseCount(const std::string& name, const std::string& prefix, long* n) {
  if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size() ||
      name.size() > prefix.size() + 9) {
    return false;
  }
  long value = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') {
      return false;
    }
    value = value * 10 + (name[i] - '0');
  }
  if (value < 1) {
    return false;
  }
  *n = value;
  return true;
}

bool isWriteOf(const AdapterCall& call, FrameKind kind) {
  return call.op == AdapterOp::kWrite && frameKind(*call.frame) == kind;
}

}  // namespace

const char* scenarioNames() {
  return "normal, switched-off-late, already-off, never-answers, never-powers-off, silent-from=N, "
         "query-write-fails, "
         "writes-fail-after-first, open-fails, recycle-stuck, reset-write-fails, "
         "start-write-fails, no-go-ahead, data-write-fails-at=N, close-fails, class-read-fails, "
         "class-wrong, thread-read-fails, thread-wrong, affinity-read-fails, fail-call=K";
}

bool parseScenario(const std::string& name, Scenario* scenario) {
  Scenario s;
  s.name = name;
  if (name == "normal") {
  } else if (name == "switched-off-late") {
    s.lateOff = true;
  } else if (name == "already-off") {
    s.handOnAtStart = false;
    s.person = PersonPlan::kSwitchOn;
  } else if (name == "never-answers") {
    s.handOnAtStart = false;
    s.person = PersonPlan::kIdle;
  } else if (name == "never-powers-off") {
    s.person = PersonPlan::kIdle;
  } else if (parseCount(name, "silent-from=", &s.n)) {
    s.person = PersonPlan::kIdle;
    s.behaviour.silentFromQuery = static_cast<int>(s.n);
  } else if (name == "query-write-fails") {
    s.adapterFault = AdapterFault::kQueryWriteWhileOn;
  } else if (name == "writes-fail-after-first") {
    s.handOnAtStart = false;
    s.person = PersonPlan::kIdle;
    s.adapterFault = AdapterFault::kWritesAfterFirst;
  } else if (name == "open-fails") {
    s.adapterFault = AdapterFault::kOpen;
  } else if (name == "recycle-stuck") {
    s.adapterFault = AdapterFault::kClose;
  } else if (name == "reset-write-fails") {
    s.adapterFault = AdapterFault::kResetWrite;
  } else if (name == "start-write-fails") {
    s.adapterFault = AdapterFault::kStartWrite;
  } else if (name == "no-go-ahead") {
    s.behaviour.sendsGoAhead = false;
  } else if (parseCount(name, "data-write-fails-at=", &s.n)) {
    s.adapterFault = AdapterFault::kDataWriteAt;
  } else if (name == "close-fails") {
    s.adapterFault = AdapterFault::kCloseAfterStart;
  } else if (name == "class-read-fails") {
    s.scheduling = SchedulingFault::kClassReadFails;
  } else if (name == "class-wrong") {
    s.scheduling = SchedulingFault::kClassWrong;
  } else if (name == "thread-read-fails") {
    s.scheduling = SchedulingFault::kThreadReadFails;
  } else if (name == "thread-wrong") {
    s.scheduling = SchedulingFault::kThreadWrong;
  } else if (name == "affinity-read-fails") {
    s.scheduling = SchedulingFault::kAffinityReadFails;
  } else if (parseCount(name, "fail-call=", &s.n)) {
    s.adapterFault = AdapterFault::kCallAt;
  } else {
    return false;
  }
  *scenario = s;
  return true;
}

RigConfig rigConfigFor(const Scenario& scenario, int node) {
  RigConfig config;
  config.node = node;
  config.behaviour = scenario.behaviour;
  config.person = scenario.person;
  config.handOnAtStart = scenario.handOnAtStart;
  if (scenario.lateOff) {
    config.switchOffDelay = kLatePersonSwitchOffDelay;
    config.offTime = kLatePersonOffTime;
  }
  long n = scenario.n;
  switch (scenario.adapterFault) {
    case AdapterFault::kNone:
      break;
    case AdapterFault::kQueryWriteWhileOn:
      config.fault = [](const AdapterCall& call) {
        return isWriteOf(call, FrameKind::kQuery) && call.rig->node().powered();
      };
      break;
    case AdapterFault::kWritesAfterFirst:
      config.fault = [writes = 0](const AdapterCall& call) mutable {
        return call.op == AdapterOp::kWrite && ++writes > 1;
      };
      break;
    case AdapterFault::kOpen:
      config.fault = [](const AdapterCall& call) { return call.op == AdapterOp::kOpen; };
      break;
    case AdapterFault::kClose:
      config.fault = [](const AdapterCall& call) { return call.op == AdapterOp::kClose; };
      break;
    case AdapterFault::kResetWrite:
      config.fault = [](const AdapterCall& call) { return isWriteOf(call, FrameKind::kReset); };
      break;
    case AdapterFault::kStartWrite:
      config.fault = [](const AdapterCall& call) { return isWriteOf(call, FrameKind::kStart); };
      break;
    case AdapterFault::kDataWriteAt:
      config.fault = [n, writes = 0L](const AdapterCall& call) mutable {
        return isWriteOf(call, FrameKind::kData) && ++writes == n;
      };
      break;
    case AdapterFault::kCloseAfterStart:
      config.fault = [](const AdapterCall& call) {
        return call.op == AdapterOp::kClose && call.rig->stats().starts > 0;
      };
      break;
    case AdapterFault::kCallAt:
      config.fault = [n](const AdapterCall& call) {
        return call.index == static_cast<uint64_t>(n);
      };
      break;
  }
  return config;
}
