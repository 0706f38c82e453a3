// One classic CAN data frame, laid out as the adapter library's message record.
#pragma once

#include <cstdint>

/// A classic CAN frame: identifier, frame type (0: standard data frame), length and data.
struct CanFrame {
  uint32_t identifier;
  uint8_t type;
  uint8_t length;
  uint8_t data[8];
};

/// Status of every adapter call: 0 is success, any other value a failure of any kind.
using CanStatus = uint32_t;
constexpr CanStatus kCanOk = 0;
