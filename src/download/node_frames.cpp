#include "download/node_frames.h"

namespace {

CanFrame frame(int node, uint8_t length, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return CanFrame{static_cast<uint32_t>(node), 0, length, {b0, b1, b2, b3, 0, 0, 0, 0}};
}

}  // namespace

const char* nodletName(int node) {
  switch (node) {
    case 11:
      return "Finger 1";
    case 12:
      return "Finger 2";
    case 13:
      return "Finger 3";
    case 14:
      return "Spread";
    default:
      return "<Unknown>";
  }
}

CanFrame queryFrame(int node) {
  return frame(node, 1, 0x00, 0, 0, 0);
}

CanFrame resetFrame(int node) {
  return frame(node, 4, 0x85, 0x00, 0x00, 0x00);
}

CanFrame startFrame(int node) {
  return frame(node, 4, 0x80, 0x00, 0xAA, 0x00);
}

CanFrame dataFrame(int node, char character) {
  return frame(node, 1, static_cast<uint8_t>(character), 0, 0, 0);
}
