// Every timing figure of the virtual hand, in one place. Times are in microseconds of hand time.
#pragma once

#include <cstdint>

/// A moment or a span of hand time, in microseconds.
using SimTime = uint64_t;

/// A moment that never comes.
constexpr SimTime kNever = UINT64_MAX;

constexpr SimTime kMillisecond = 1000;
constexpr SimTime kSecond = 1000 * kMillisecond;

// The bus: classic CAN at 1 Mbit/s, so one bit lasts one microsecond.
constexpr uint64_t kBusBitsPerSecond = 1000000;

// The node.
/// From power-on until the node's firmware runs and answers.
constexpr SimTime kNodeBootTime = 250 * kMillisecond;
/// From power-on until the bootloader stops accepting a reset into download mode.
constexpr SimTime kDownloadWindow = 3 * kSecond;
/// From the end of a query frame on the bus until the answer is ready to send.
constexpr SimTime kNodeAnswerLatency = 100;
/// From the end of the start frame or of a data frame until the go-ahead is ready to send.
constexpr SimTime kNodeGoAheadLatency = 10;

// The person at the power switch.
/// From the first query of the handshake until the hand is switched off.
constexpr SimTime kPersonSwitchOffDelay = 1 * kSecond;
/// How long the hand stays off.
constexpr SimTime kPersonOffTime = 5 * kSecond;
/// With the hand already off: from the first query until it is switched on.
constexpr SimTime kPersonSwitchOnDelay = 5 * kSecond;
/// A person who switches off late: from the first query until the hand goes off, and how long
/// it stays off.
constexpr SimTime kLatePersonSwitchOffDelay = 30 * kSecond;
constexpr SimTime kLatePersonOffTime = 6 * kSecond;

// The adapter.
/// What one read or write costs the host on the virtual clock (a USB adapter's library call).
constexpr SimTime kAdapterCallCost = 2;
/// What one open or close costs on the virtual clock: the controller is reset.
constexpr SimTime kAdapterOpenCloseCost = 500;
/// Frames the adapter holds for transmission; a write fails when they are all taken.
constexpr int kAdapterTxQueueFrames = 16;
/// Frames the adapter holds as received; later ones are lost until the host reads.
constexpr int kAdapterRxQueueFrames = 4096;
