// The virtual hand on its bus, with the host's adapter: moves the models through time and
// carries the host's adapter calls and sleeps to them.
#pragma once

#include <cstdint>
#include <functional>

#include "adapter_model.h"
#include "can/can_frame.h"
#include "frame_kind.h"
#include "hand_timing.h"
#include "node_model.h"
#include "person_model.h"

class HandRig;
class SimClock;

/// The adapter operations of the host library.
enum class AdapterOp { kOpen, kClose, kRead, kWrite };

/// One adapter call, as a fault plan sees it before the call is carried out.
struct AdapterCall {
  AdapterOp op;
  uint64_t index;         // counted from 1 over all calls of the run
  const CanFrame* frame;  // the frame to write; null for the other operations
  const HandRig* rig;     // the state of the hand and the counts so far
};

/// Decides whether an adapter call fails instead of being carried out.
using FaultPlan = std::function<bool(const AdapterCall&)>;

/// An order to the hand's power switch from outside: the guide's power commands.
enum class SwitchOrder {
  kNone,     // none has come
  kOff,      // switch the hand off
  kOn,       // switch it on
  kOffDone,  // the command that was to switch it off has ended
  kOnDone,   // the command that was to switch it on has ended
  kClosed,   // no order will come any more
};

/// Gives the next order; |wait|: until one comes (or none ever will), else kNone at once.
using SwitchOrders = std::function<SwitchOrder(bool wait)>;

/// How the rig is set up.
struct RigConfig {
  int node = 12;
  NodeBehaviour behaviour;
  PersonPlan person = PersonPlan::kPowerCycle;
  bool handOnAtStart = true;
  /// A person who switches the hand off this long after the first query, for this long.
  SimTime switchOffDelay = kPersonSwitchOffDelay;
  SimTime offTime = kPersonOffTime;
  FaultPlan fault;
  /// The power switch worked from outside instead of by the person, who then never touches it.
  SwitchOrders orders;
  /// With |orders| on simulated time: the hand's time stands still while it waits for the order
  /// a power cycle needs next, and an order to switch on takes effect no sooner than the
  /// person's off time after the switch-off.
  bool holdForOrders = false;
  /// Told what happens to the hand: "first-query on" or "first-query off" (the hand's power at
  /// the first query), "power-off", "power-on", "answer" (the first frame the host receives
  /// after a power-on), each with the hand time.
  std::function<void(const char* what, SimTime at)> report;
};

/// Counts of what the host did and what the bus carried: the frames the adapter accepted, by
/// kind, and the hand's power switchings, then the rest.
struct RigStats : FrameCounts {
  uint64_t adapterCalls = 0;
  uint64_t failedCalls = 0;
  uint64_t reads = 0;
  uint64_t framesRead = 0;
  int opens = 0;   // successful opens
  int closes = 0;  // successful closes
  uint64_t framesOnBus = 0;
  SimTime busTime = 0;          // all frames' time on the wire
  SimTime downloadBusTime = 0;  // the wire time of frames after the start frame
  SimTime sleepTime = 0;        // what the host asked to sleep
};

/// The adapter, the bus, the node and the person. The bus carries one frame at a time, each for
/// its wire time; a frame from the adapter needs a powered node to acknowledge it and otherwise
/// waits in the adapter's queue; when both sides have a frame ready the lower identifier wins.
class HandRig {
 public:
  HandRig(SimClock& clock, RigConfig config);

  // The host library's calls on the channel. Each costs the host kAdapterCallCost (open and
  // close kAdapterOpenCloseCost) and first brings the hand up to the present.
  CanStatus open();
  CanStatus close();
  CanStatus read(CanFrame* frame);
  CanStatus write(const CanFrame& frame);

  /// The host sleeps.
  void sleepMs(unsigned ms);

  /// The power switch: on or off, now.
  void switchHand(bool on);
  /// Runs the hand up to the clock's present.
  void catchUp();
  /// After the host's run: carries out the outside orders until none will come any more.
  void followOrdersToTheEnd();

  /// Successful re-opens: every controller reset the handshake asked for.
  int recycles() const { return stats_.opens > 0 ? stats_.opens - 1 : 0; }
  SimTime now() const { return now_; }
  const RigStats& stats() const { return stats_; }
  const NodeModel& node() const { return node_; }
  const AdapterModel& adapter() const { return adapter_; }

 private:
  struct Wire {
    bool busy = false;
    bool fromHost = false;
    CanFrame frame{};
    SimTime endAt = 0;
    int adapterResets = 0;  // the adapter's reset count when the frame started
    int nodePowerOns = 0;   // the node's power-on count when the frame started
  };

  bool beginCall(AdapterOp op, const CanFrame* frame, SimTime cost);
  void advanceTo(SimTime t);
  SimTime nextFrameStart() const;
  void startFrame();
  void endFrame();

  void tell(const char* what);
  // The outside orders: every one that has come (|wait|: the next one, waiting for it).
  void takeOrders(bool wait);
  void apply(SwitchOrder order);
  // Where simulated time must stop for an outside order; kNever when it need not.
  SimTime holdAt() const;

  SimClock& clock_;
  FaultPlan fault_;
  std::function<void(const char*, SimTime)> report_;
  bool awaiting_answer_ = false;  // switched on, and nothing received from the node since
  AdapterModel adapter_;
  NodeModel node_;
  PersonModel person_;
  // The outside switch: where its power cycle stands.
  enum class Outside { kAwaitOff, kAwaitOn, kOnOrdered, kFree };
  SwitchOrders orders_;
  bool hold_ = false;
  Outside outside_ = Outside::kAwaitOff;
  SimTime offAt_ = 0;        // when it switched the hand off
  SimTime onAt_ = kNever;    // when its ordered switch-on takes effect
  uint64_t ordersLook_ = 0;  // the steps since the orders were last looked for
  Wire wire_;
  SimTime now_ = 0;
  RigStats stats_;
};
