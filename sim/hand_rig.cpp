#include "hand_rig.h"

#include "bus_timing.h"
#include "sim_clock.h"

HandRig::HandRig(SimClock& clock, RigConfig config)
    : clock_(clock),
      fault_(std::move(config.fault)),
      report_(std::move(config.report)),
      node_(config.node, config.behaviour),
      person_(config.orders ? PersonPlan::kIdle : config.person, config.switchOffDelay,
              config.offTime),
      orders_(std::move(config.orders)),
      hold_(orders_ && config.holdForOrders) {
  now_ = clock_.now();
  if (config.handOnAtStart) {
    node_.poweredSinceLongAgo(now_);
    ++stats_.powerOns;
  }
}

bool HandRig::beginCall(AdapterOp op, const CanFrame* frame, SimTime cost) {
  clock_.spend(cost);
  catchUp();
  ++stats_.adapterCalls;
  if (fault_ && fault_(AdapterCall{op, stats_.adapterCalls, frame, this})) {
    ++stats_.failedCalls;
    return false;
  }
  return true;
}

CanStatus HandRig::open() {
  if (!beginCall(AdapterOp::kOpen, nullptr, kAdapterOpenCloseCost)) {
    return kAdapterInjected;
  }
  CanStatus status = adapter_.open();
  if (status == kCanOk) {
    ++stats_.opens;
  } else {
    ++stats_.failedCalls;
  }
  return status;
}

CanStatus HandRig::close() {
  if (!beginCall(AdapterOp::kClose, nullptr, kAdapterOpenCloseCost)) {
    return kAdapterInjected;
  }
  CanStatus status = adapter_.close();
  if (status == kCanOk) {
    ++stats_.closes;
  } else {
    ++stats_.failedCalls;
  }
  return status;
}

CanStatus HandRig::read(CanFrame* frame) {
  ++stats_.reads;
  if (!beginCall(AdapterOp::kRead, nullptr, kAdapterCallCost)) {
    return kAdapterInjected;
  }
  CanStatus status = adapter_.read(frame);
  if (status == kCanOk) {
    ++stats_.framesRead;
  }
  return status;
}

CanStatus HandRig::write(const CanFrame& frame) {
  if (!beginCall(AdapterOp::kWrite, &frame, kAdapterCallCost)) {
    return kAdapterInjected;
  }
  CanStatus status = adapter_.write(frame);
  if (status != kCanOk) {
    ++stats_.failedCalls;
    return status;
  }
  if (stats_.count(frame) == FrameKind::kQuery) {
    if (stats_.queries == 1) {
      tell(node_.powered() ? "first-query on" : "first-query off");
    }
    person_.onQuery(now_);
  }
  return status;
}

void HandRig::tell(const char* what) {
  if (report_) {
    report_(what, now_);
  }
}

void HandRig::sleepMs(unsigned ms) {
  SimTime span = static_cast<SimTime>(ms) * kMillisecond;
  stats_.sleepTime += span;
  clock_.sleep(span);
}

void HandRig::switchHand(bool on) {
  if (on == node_.powered()) {
    return;
  }
  if (on) {
    node_.powerOn(now_);
    ++stats_.powerOns;
    awaiting_answer_ = true;
    tell("power-on");
  } else {
    node_.powerOff();
    ++stats_.powerOffs;
    tell("power-off");
  }
}

void HandRig::catchUp() {
  advanceTo(clock_.now());
}

SimTime HandRig::nextFrameStart() const {
  SimTime start = kNever;
  if (adapter_.hasPendingTx() && node_.acknowledges()) {
    start = now_;
  }
  if (node_.hasOutgoing()) {
    SimTime ready = node_.outgoingReadyAt() > now_ ? node_.outgoingReadyAt() : now_;
    if (ready < start) {
      start = ready;
    }
  }
  return start;
}

void HandRig::startFrame() {
  // Arbitration: of the frames ready now, the lower identifier wins the bus.
  bool host = adapter_.hasPendingTx() && node_.acknowledges();
  bool nodeReady = node_.hasOutgoing() && node_.outgoingReadyAt() <= now_;
  if (host && nodeReady && node_.outgoingFrame().identifier < adapter_.pendingTx().identifier) {
    host = false;
  }
  wire_.busy = true;
  wire_.fromHost = host;
  wire_.frame = host ? adapter_.pendingTx() : node_.outgoingFrame();
  wire_.adapterResets = adapter_.resets();
  wire_.nodePowerOns = stats_.powerOns;
  if (!host) {
    node_.popOutgoing();
  }
  SimTime wireTime = frameWireTime(wire_.frame);
  wire_.endAt = now_ + wireTime;
  stats_.busTime += wireTime;
  ++stats_.framesOnBus;
  if (node_.log().firstStartAt != kNever) {
    stats_.downloadBusTime += wireTime;
  }
}

void HandRig::endFrame() {
  wire_.busy = false;
  bool nodeStillOn = node_.powered() && wire_.nodePowerOns == stats_.powerOns;
  if (wire_.fromHost) {
    if (wire_.adapterResets != adapter_.resets()) {
      return;  // the controller was reset under the frame: it never completed
    }
    if (!node_.acknowledges()) {
      return;  // nobody acknowledged it: it stays queued and goes again
    }
    adapter_.txAcknowledged();
    node_.receive(wire_.frame, now_);
  } else if (nodeStillOn) {
    adapter_.receive(wire_.frame);
    if (awaiting_answer_) {
      awaiting_answer_ = false;
      tell("answer");
    }
  }
}

void HandRig::takeOrders(bool wait) {
  if (!orders_) {
    return;
  }
  for (SwitchOrder order = orders_(wait); order != SwitchOrder::kNone; order = orders_(false)) {
    apply(order);
    if (order == SwitchOrder::kClosed) {
      orders_ = nullptr;
      return;
    }
  }
}

void HandRig::apply(SwitchOrder order) {
  switch (order) {
    case SwitchOrder::kOff:
      if (node_.powered()) {
        offAt_ = now_;
      }
      switchHand(false);
      onAt_ = kNever;
      outside_ = Outside::kAwaitOn;
      break;
    case SwitchOrder::kOn:
      if (hold_ && !node_.powered()) {
        // The hand's own time keeps it off for the person's off time, as the guide would on
        // the real clock.
        SimTime earliest = offAt_ + kPersonOffTime;
        onAt_ = earliest > now_ ? earliest : now_;
        outside_ = Outside::kOnOrdered;
      } else {
        switchHand(true);
        outside_ = Outside::kFree;
      }
      break;
    case SwitchOrder::kOffDone:
      if (outside_ == Outside::kAwaitOff) {
        outside_ = Outside::kFree;  // it ended without switching: the hand stays as it is
      }
      break;
    case SwitchOrder::kOnDone:
      if (outside_ == Outside::kAwaitOn) {
        outside_ = Outside::kFree;
      }
      break;
    case SwitchOrder::kClosed:
      outside_ = Outside::kFree;
      break;
    case SwitchOrder::kNone:
      break;
  }
}

SimTime HandRig::holdAt() const {
  if (!hold_ || !orders_) {
    return kNever;
  }
  switch (outside_) {
    case Outside::kAwaitOff:
      // The tool asks for the power cycle just before its first query.
      return stats_.queries > 0 ? now_ : kNever;
    case Outside::kAwaitOn:
      return offAt_ + kPersonOffTime;
    case Outside::kOnOrdered:
    case Outside::kFree:
      break;
  }
  return kNever;
}

void HandRig::followOrdersToTheEnd() {
  if (!orders_) {
    return;
  }
  catchUp();
  outside_ = Outside::kFree;
  while (orders_) {
    takeOrders(true);
    if (onAt_ != kNever) {
      // On simulated time nobody else moves the clock now: the wait is the hand's own.
      SimTime due = onAt_;
      onAt_ = kNever;
      if (due > now_) {
        clock_.sleep(due - now_);
      }
      catchUp();
      switchHand(true);
      outside_ = Outside::kFree;
    }
  }
}

void HandRig::advanceTo(SimTime t) {
  // On the real clock an order is carried out as it comes (looked for at every 64th step, which
  // is well under a millisecond apart); on simulated time, where it is waited for.
  if (!hold_ && (++ordersLook_ & 63) == 0) {
    takeOrders(false);
  }
  while (true) {
    SimTime frameEnd = wire_.busy ? wire_.endAt : kNever;
    SimTime personAt = person_.nextActionAt();
    if (onAt_ < personAt) {
      personAt = onAt_;
    }
    SimTime frameStart = wire_.busy ? kNever : nextFrameStart();
    SimTime next = frameEnd;
    if (personAt < next) {
      next = personAt;
    }
    if (frameStart < next) {
      next = frameStart;
    }
    SimTime hold = holdAt();
    if (next > t || next > hold) {
      if (hold > t || hold == kNever) {
        break;
      }
      // Time stands still here until the order comes.
      if (hold > now_) {
        now_ = hold;
      }
      takeOrders(true);
      continue;
    }
    now_ = next;
    if (next == frameEnd) {
      endFrame();
    } else if (next == onAt_) {
      onAt_ = kNever;
      outside_ = Outside::kFree;
      switchHand(true);
    } else if (next == personAt) {
      switchHand(person_.act());
    } else {
      startFrame();
    }
  }
  if (t > now_) {
    now_ = t;
  }
}
