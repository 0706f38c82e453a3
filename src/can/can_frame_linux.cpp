#include "can/can_frame_linux.h"

#include <cstring>

bool frameFromSocket(const can_frame& received, CanFrame* frame) {
  if ((received.can_id & CAN_ERR_FLAG) != 0) {
    return false;
  }
  bool extended = (received.can_id & CAN_EFF_FLAG) != 0;
  bool remote = (received.can_id & CAN_RTR_FLAG) != 0;
  frame->identifier = received.can_id & (extended ? CAN_EFF_MASK : CAN_SFF_MASK);
  frame->type =
      static_cast<uint8_t>((remote ? kCanTypeRemote : 0) | (extended ? kCanTypeExtended : 0));
  frame->length = received.len > CAN_MAX_DLEN ? CAN_MAX_DLEN : received.len;
  // A remote frame carries no data; its length is the one it asks for.
  std::memset(frame->data, 0, sizeof(frame->data));
  if (!remote) {
    std::memcpy(frame->data, received.data, frame->length);
  }
  return true;
}
