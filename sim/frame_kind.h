// Telling apart the frames the tool sends to a node, by their content, and counting them.
#pragma once

#include "can/can_frame.h"

/// What a frame sent to a node asks of it.
enum class FrameKind {
  kQuery,  // length 1, data 00: the node's version
  kReset,  // length 4, data 85 00 00 00
  kStart,  // length 4, data 80 00 AA 00
  kData,   // length 1, any other byte: one firmware character
  kOther
};

FrameKind frameKind(const CanFrame& frame);

/// The frames of each kind that reached the node's side of the bus, and the hand's power
/// switchings.
struct FrameCounts {
  int queries = 0;
  int resets = 0;
  int starts = 0;
  int dataFrames = 0;
  int otherFrames = 0;
  int powerOns = 0;
  int powerOffs = 0;

  /// Counts |frame| among those of its kind; returns the kind.
  FrameKind count(const CanFrame& frame);
};
