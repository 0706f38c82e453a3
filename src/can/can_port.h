// The one adapter channel through which the tool reaches the bus.
#pragma once

#include <memory>

#include "can/can_frame.h"

/// The channel this tool uses: the adapter's first USB channel at 1 Mbit/s.
constexpr uint16_t kCanChannel = 0x51;
constexpr uint16_t kCanBitRate1M = 0x0014;

/// One adapter channel. Bindings implement the do* calls; the port keeps track of whether the
/// channel is open so that the end of a run can release it.
class CanPort {
 public:
  virtual ~CanPort() = default;

  /// Opens the channel at 1 Mbit/s.
  CanStatus open() {
    CanStatus status = doOpen();
    if (status == kCanOk) {
      open_ = true;
    }
    return status;
  }

  /// Closes the channel; closing and opening again resets the CAN controller.
  CanStatus close() {
    CanStatus status = doClose();
    if (status == kCanOk) {
      open_ = false;
    }
    return status;
  }

  /// Takes one received frame from the receive queue; never waits. Non-zero: no frame taken.
  CanStatus read(CanFrame* frame) { return doRead(frame); }

  /// Hands one frame to the adapter for sending. 0: the adapter accepted it.
  CanStatus write(const CanFrame& frame) { return doWrite(frame); }

  bool isOpen() const { return open_; }

 protected:
  virtual CanStatus doOpen() = 0;
  virtual CanStatus doClose() = 0;
  virtual CanStatus doRead(CanFrame* frame) = 0;
  virtual CanStatus doWrite(const CanFrame& frame) = 0;

 private:
  bool open_ = false;
};

/// The platform's binding to the real adapter.
std::unique_ptr<CanPort> makeAdapterPort();
