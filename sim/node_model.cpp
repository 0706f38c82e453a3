#include "node_model.h"

#include "frame_kind.h"

namespace {

// The node's own frames: the answer to a query carries its version, a go-ahead an ACK byte.
constexpr uint32_t kReplyBase = 0x100;
constexpr uint8_t kVersionByte = 0x21;
constexpr uint8_t kGoAheadByte = 0x06;

}  // namespace

NodeModel::NodeModel(int nodeNumber, NodeBehaviour behaviour)
    : node_(nodeNumber), behaviour_(behaviour) {}

void NodeModel::powerOn(SimTime now) {
  if (powered()) {
    return;
  }
  mode_ = Mode::kRunning;
  boot_done_at_ = now + kNodeBootTime;
  window_ends_at_ = now + kDownloadWindow;
  window_ = true;
}

void NodeModel::poweredSinceLongAgo(SimTime now) {
  powerOn(now);
  boot_done_at_ = now;
  window_ = false;
}

void NodeModel::powerOff() {
  mode_ = Mode::kOff;
  outgoing_.clear();
}

uint32_t NodeModel::replyIdentifier() const {
  return kReplyBase + static_cast<uint32_t>(node_);
}

void NodeModel::popOutgoing() {
  outgoing_.pop_front();
  ++log_.framesSent;
}

void NodeModel::send(SimTime readyAt, uint8_t byte) {
  CanFrame frame{replyIdentifier(), 0, 1, {byte, 0, 0, 0, 0, 0, 0, 0}};
  outgoing_.push_back(Outgoing{readyAt, frame});
}

void NodeModel::receive(const CanFrame& frame, SimTime now) {
  if (!powered() || now < boot_done_at_) {
    return;  // the controller acknowledges, but no firmware runs yet
  }
  if (frame.identifier != static_cast<uint32_t>(node_) || frame.type != 0) {
    return;
  }
  FrameKind kind = frameKind(frame);
  switch (mode_) {
    case Mode::kOff:
      return;
    case Mode::kRunning:
      if (kind == FrameKind::kQuery) {
        ++log_.queries;
        if (behaviour_.silentFromQuery == 0 || log_.queries < behaviour_.silentFromQuery) {
          send(now + kNodeAnswerLatency, kVersionByte);
        }
      } else if (kind == FrameKind::kReset && window_ && now <= window_ends_at_) {
        ++log_.resets;
        mode_ = Mode::kAwaitStart;
      }
      return;
    case Mode::kAwaitStart:
      if (kind == FrameKind::kStart) {
        ++log_.starts;
        log_.firstStartAt = now;
        mode_ = Mode::kDownloading;
        if (behaviour_.sendsGoAhead) {
          send(now + kNodeGoAheadLatency, kGoAheadByte);
        }
      }
      return;
    case Mode::kDownloading:
      if (frame.length == 1) {
        char c = static_cast<char>(frame.data[0]);
        ++log_.dataFrames;
        log_.data.push_back(c);
        log_.lastDataAt = now;
        records_.add(c);
        if (behaviour_.sendsGoAhead) {
          send(now + kNodeGoAheadLatency, kGoAheadByte);
        }
      }
      return;
  }
}
