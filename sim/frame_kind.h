// Telling apart the frames the tool sends to a node, by their content.
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
