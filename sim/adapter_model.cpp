#include "adapter_model.h"

#include "hand_timing.h"

void AdapterModel::resetController() {
  tx_.clear();
  rx_.clear();
  ++resets_;
}

CanStatus AdapterModel::open() {
  if (open_) {
    return kAdapterAlreadyOpen;
  }
  resetController();
  open_ = true;
  return kCanOk;
}

CanStatus AdapterModel::close() {
  if (!open_) {
    return kAdapterNotOpen;
  }
  resetController();
  open_ = false;
  return kCanOk;
}

CanStatus AdapterModel::read(CanFrame* frame) {
  if (!open_) {
    return kAdapterNotOpen;
  }
  if (rx_.empty()) {
    return kAdapterRxEmpty;
  }
  *frame = rx_.front();
  rx_.pop_front();
  return kCanOk;
}

CanStatus AdapterModel::write(const CanFrame& frame) {
  if (!open_) {
    return kAdapterNotOpen;
  }
  if (static_cast<int>(tx_.size()) >= kAdapterTxQueueFrames) {
    return kAdapterTxFull;
  }
  tx_.push_back(frame);
  return kCanOk;
}

void AdapterModel::receive(const CanFrame& frame) {
  if (!open_) {
    return;
  }
  if (static_cast<int>(rx_.size()) >= kAdapterRxQueueFrames) {
    ++rx_lost_;
    return;
  }
  rx_.push_back(frame);
}
