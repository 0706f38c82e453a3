// How long a classic CAN frame occupies the bus, from its actual bit stream.
#pragma once

#include <cstdint>
#include <vector>

#include "can/can_frame.h"
#include "hand_timing.h"

/// The bits of a standard data frame from the start-of-frame bit to the last CRC bit, before
/// stuffing: SOF, 11-bit identifier, RTR, IDE, r0, 4-bit length, the data and the CRC-15.
std::vector<uint8_t> frameStuffedRegion(const CanFrame& frame);

/// The CAN CRC-15 (polynomial 0x4599) of a bit sequence.
uint16_t canCrc15(const std::vector<uint8_t>& bits);

/// The stuff bits a transmitter inserts into |bits|: one after every five equal bits in a row,
/// the stuff bit itself starting the next run.
int countStuffBits(const std::vector<uint8_t>& bits);

/// Every bit the frame puts on the bus: the stuffed region with its stuff bits, then the CRC
/// delimiter, the acknowledgement slot and delimiter, seven end-of-frame bits and the three bits
/// of intermission before the next frame may start.
int frameBits(const CanFrame& frame);

/// The frame's time on the bus at kBusBitsPerSecond.
SimTime frameWireTime(const CanFrame& frame);
