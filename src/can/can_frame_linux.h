// Frames as the SocketCAN raw socket hands them over, in the adapter library's record.
#pragma once

#include <linux/can.h>

#include "can/can_frame.h"

/// The frame types the adapter library reports, as bits of CanFrame::type.
constexpr uint8_t kCanTypeRemote = 0x01;
constexpr uint8_t kCanTypeExtended = 0x02;

/// Converts a received frame: data and remote frames, standard or extended, as the adapter
/// library reports them. False for an error frame, which the library does not hand out as a
/// received frame.
bool frameFromSocket(const can_frame& received, CanFrame* frame);
