#include "frame_kind.h"

FrameKind frameKind(const CanFrame& frame) {
  const uint8_t* d = frame.data;
  if (frame.length == 1) {
    return d[0] == 0x00 ? FrameKind::kQuery : FrameKind::kData;
  }
  if (frame.length == 4 && d[1] == 0x00 && d[3] == 0x00) {
    if (d[0] == 0x85 && d[2] == 0x00) {
      return FrameKind::kReset;
    }
    if (d[0] == 0x80 && d[2] == 0xAA) {
      return FrameKind::kStart;
    }
  }
  return FrameKind::kOther;
}

FrameKind FrameCounts::count(const CanFrame& frame) {
  FrameKind kind = frameKind(frame);
  switch (kind) {
    case FrameKind::kQuery:
      ++queries;
      break;
    case FrameKind::kReset:
      ++resets;
      break;
    case FrameKind::kStart:
      ++starts;
      break;
    case FrameKind::kData:
      ++dataFrames;
      break;
    case FrameKind::kOther:
      ++otherFrames;
      break;
  }
  return kind;
}
