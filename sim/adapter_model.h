// A USB CAN adapter's channel as the host library shows it: open state and the two queues.
#pragma once

#include <deque>

#include "can/can_frame.h"

/// Failure statuses of the adapter model; the tool only tells them from 0.
constexpr CanStatus kAdapterRxEmpty = 0x00020;
constexpr CanStatus kAdapterTxFull = 0x00080;
constexpr CanStatus kAdapterNotOpen = 0x40000;
constexpr CanStatus kAdapterAlreadyOpen = 0x04000;
constexpr CanStatus kAdapterInjected = 0x10000;

/// The adapter channel. Opening or closing resets its controller, which drops every frame
/// received and every frame still waiting for transmission. Writes queue frames for the bus;
/// frames nobody acknowledges stay queued. Reads never wait.
class AdapterModel {
 public:
  CanStatus open();
  CanStatus close();
  CanStatus read(CanFrame* frame);
  CanStatus write(const CanFrame& frame);
  bool isOpen() const { return open_; }

  // The bus side.
  /// The frame the controller is trying to send, if any.
  bool hasPendingTx() const { return !tx_.empty(); }
  const CanFrame& pendingTx() const { return tx_.front(); }
  /// The pending frame was acknowledged: it leaves the queue.
  void txAcknowledged() { tx_.pop_front(); }
  /// A frame seen on the bus; kept while the channel is open and the queue has room.
  void receive(const CanFrame& frame);
  /// Counts controller resets, so the bus can tell a frame on the wire was aborted.
  int resets() const { return resets_; }

  int txQueued() const { return static_cast<int>(tx_.size()); }
  int rxQueued() const { return static_cast<int>(rx_.size()); }
  int rxLost() const { return rx_lost_; }

 private:
  void resetController();

  bool open_ = false;
  std::deque<CanFrame> tx_;
  std::deque<CanFrame> rx_;
  int resets_ = 0;
  int rx_lost_ = 0;
};
