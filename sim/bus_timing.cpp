#include "bus_timing.h"

namespace {

constexpr int kCrcBits = 15;
constexpr uint16_t kCrcPolynomial = 0x4599;
// CRC delimiter, ACK slot, ACK delimiter, end of frame, intermission.
constexpr int kUnstuffedTailBits = 1 + 1 + 1 + 7 + 3;

void appendBits(std::vector<uint8_t>* bits, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    bits->push_back(static_cast<uint8_t>((value >> i) & 1));
  }
}

}  // namespace

uint16_t canCrc15(const std::vector<uint8_t>& bits) {
  uint16_t crc = 0;
  for (uint8_t bit : bits) {
    bool feedback = (bit != 0) != (((crc >> 14) & 1) != 0);
    crc = static_cast<uint16_t>((crc << 1) & 0x7FFF);
    if (feedback) {
      crc ^= kCrcPolynomial;
    }
  }
  return crc;
}

std::vector<uint8_t> frameStuffedRegion(const CanFrame& frame) {
  int length = frame.length > 8 ? 8 : frame.length;
  std::vector<uint8_t> bits;
  bits.push_back(0);                          // start of frame
  appendBits(&bits, frame.identifier, 11);    // identifier
  appendBits(&bits, 0, 3);                    // RTR, IDE, r0: a standard data frame
  appendBits(&bits, frame.length & 0xFu, 4);  // length code
  for (int i = 0; i < length; ++i) {
    appendBits(&bits, frame.data[i], 8);
  }
  appendBits(&bits, canCrc15(bits), kCrcBits);
  return bits;
}

int countStuffBits(const std::vector<uint8_t>& bits) {
  int stuffed = 0;
  int run = 0;
  int last = -1;
  for (uint8_t bit : bits) {
    if (bit == last) {
      ++run;
    } else {
      last = bit;
      run = 1;
    }
    if (run == 5) {
      ++stuffed;
      last = bit == 0 ? 1 : 0;
      run = 1;
    }
  }
  return stuffed;
}

int frameBits(const CanFrame& frame) {
  std::vector<uint8_t> region = frameStuffedRegion(frame);
  return static_cast<int>(region.size()) + countStuffBits(region) + kUnstuffedTailBits;
}

SimTime frameWireTime(const CanFrame& frame) {
  return static_cast<SimTime>(frameBits(frame)) * kSecond / kBusBitsPerSecond;
}
