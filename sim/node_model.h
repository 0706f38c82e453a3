// One nodlet of the hand as the bus sees it: its power, its bootloader and its answers.
#pragma once

#include <deque>
#include <string>

#include "can/can_frame.h"
#include "hand_timing.h"
#include "tekhex_assembler.h"

/// Ways a node can misbehave.
struct NodeBehaviour {
  /// The query, counted from 1 over the node's life, from which on it answers none; 0: never.
  int silentFromQuery = 0;
  /// Whether the node sends go-ahead frames once a download has started.
  bool sendsGoAhead = true;
};

/// What the node has received, for the report.
struct NodeLog {
  int queries = 0;                // query frames received while running
  int resets = 0;                 // reset frames accepted into download mode
  int starts = 0;                 // start frames accepted
  int dataFrames = 0;             // data frames received while downloading
  int framesSent = 0;             // answers and go-aheads put on the bus
  std::string data;               // every data character received, in order
  SimTime firstStartAt = kNever;  // when the download started
  SimTime lastDataAt = kNever;    // when the last data character came
};

/// A nodlet: answers queries while powered and booted; a reset within the download window after
/// power-on, then a start frame, put it into download mode, where it acknowledges the start frame
/// and every data frame with one go-ahead frame and checks the records it reassembles. Frames
/// addressed to other nodes are ignored. It only receives frames and offers frames to send; the
/// bus around it decides when they travel.
class NodeModel {
 public:
  NodeModel(int nodeNumber, NodeBehaviour behaviour);

  void powerOn(SimTime now);
  /// The node has been on since long before |now|: booted, its download window closed.
  void poweredSinceLongAgo(SimTime now);
  /// Power lost: the frames waiting to be sent are gone, the download state with them.
  void powerOff();
  bool powered() const { return mode_ != Mode::kOff; }
  /// Whether the node's controller is on the bus, acknowledging what it sees.
  bool acknowledges() const { return powered(); }

  /// A frame that has just ended on the bus.
  void receive(const CanFrame& frame, SimTime now);

  /// The next frame the node wants to send, and from when.
  bool hasOutgoing() const { return !outgoing_.empty(); }
  SimTime outgoingReadyAt() const { return outgoing_.front().readyAt; }
  const CanFrame& outgoingFrame() const { return outgoing_.front().frame; }
  void popOutgoing();

  /// The identifier of the node's own frames: answers and go-aheads.
  uint32_t replyIdentifier() const;

  const NodeLog& log() const { return log_; }
  const TekhexAssembler& records() const { return records_; }

 private:
  enum class Mode {
    kOff,
    kRunning,      // booted, answering queries; in the bootloader while the window is open
    kAwaitStart,   // reset into download mode, waiting for the start frame
    kDownloading,  // streaming: each data frame is answered with a go-ahead
  };
  struct Outgoing {
    SimTime readyAt;
    CanFrame frame;
  };

  void send(SimTime readyAt, uint8_t byte);

  int node_;
  NodeBehaviour behaviour_;
  Mode mode_ = Mode::kOff;
  SimTime boot_done_at_ = 0;
  SimTime window_ends_at_ = 0;
  bool window_ = false;  // whether the download window of this power-on can still be open
  std::deque<Outgoing> outgoing_;
  NodeLog log_;
  TekhexAssembler records_;
};
