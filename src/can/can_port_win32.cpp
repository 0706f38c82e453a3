// The adapter on Windows: one channel of PEAK-System's PCAN-Basic library.
//
// PCANBasic.dll is loaded at the first open(), not when the program starts: a program that
// imports a DLL it cannot find is stopped by the loader before it can say anything, while a
// library loaded here lets a missing driver package end the run with the tool's own message.
// The four calls are taken by their ordinals.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "can/can_port.h"
#include "can/channel_lock.h"

namespace {

/// What the library fills in with a received frame and what this binding ignores.
struct PcanTimestamp {
  uint32_t milliseconds;
  uint16_t millisecondOverflow;
  uint16_t microseconds;
};

// The library reads and writes CanFrame as its own message record.
static_assert(sizeof(CanFrame) == 16);
static_assert(offsetof(CanFrame, identifier) == 0);
static_assert(offsetof(CanFrame, type) == 4);
static_assert(offsetof(CanFrame, length) == 5);
static_assert(offsetof(CanFrame, data) == 6);
static_assert(sizeof(PcanTimestamp) == 8);

// The library's calls: open, close, read and write a channel.
using PcanInitialize = CanStatus(WINAPI*)(uint16_t channel, uint16_t bitRate, uint8_t hardwareType,
                                          uint32_t ioPort, uint16_t interrupt);
using PcanUninitialize = CanStatus(WINAPI*)(uint16_t channel);
using PcanRead = CanStatus(WINAPI*)(uint16_t channel, CanFrame* message, PcanTimestamp* timestamp);
using PcanWrite = CanStatus(WINAPI*)(uint16_t channel, CanFrame* message);

constexpr WORD kInitializeOrdinal = 1;
constexpr WORD kUninitializeOrdinal = 2;
constexpr WORD kReadOrdinal = 5;
constexpr WORD kWriteOrdinal = 6;

/// The status of every call while the library is missing; callers only tell it from 0.
constexpr CanStatus kNoLibrary = 0xFFFFFFFF;
/// The status of an open while another run holds the channel.
constexpr CanStatus kChannelBusy = 0xFFFFFFFE;

template <typename Function>
Function procByOrdinal(HMODULE library, WORD ordinal) {
  FARPROC proc = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
  // Through the generic function pointer type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

// The adapter channel, through PCANBasic.dll on the DLL search path.
class PcanBasicPort : public CanPort {
 protected:
  CanStatus doOpen() override {
    // The channel is this run's alone: another run's closes and opens would break it.
    if (!locked_) {
      if (!acquireChannelLock(channelLockName(""))) {
        return kChannelBusy;
      }
      locked_ = true;
    }
    if (!load()) {
      return kNoLibrary;
    }
    return initialize_(kCanChannel, kCanBitRate1M, 0, 0, 0);
  }

  CanStatus doClose() override {
    if (library_ == nullptr) {
      return kNoLibrary;
    }
    return uninitialize_(kCanChannel);
  }

  CanStatus doRead(CanFrame* frame) override {
    if (library_ == nullptr) {
      return kNoLibrary;
    }
    PcanTimestamp timestamp{};
    return read_(kCanChannel, frame, &timestamp);
  }

  CanStatus doWrite(const CanFrame& frame) override {
    if (library_ == nullptr) {
      return kNoLibrary;
    }
    // The library takes the record by a non-const pointer.
    CanFrame message = frame;
    return write_(kCanChannel, &message);
  }

 private:
  // Loads the library and takes its four calls; tried once, at the first open.
  bool load() {
    if (load_tried_) {
      return library_ != nullptr;
    }
    load_tried_ = true;
    // The library is looked for next to the executable and in the system directories, never in
    // the current directory, so a stray PCANBasic.dll there is not loaded in its place.
    HMODULE library = LoadLibraryExA("PCANBasic.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (library == nullptr) {
      return false;
    }
    initialize_ = procByOrdinal<PcanInitialize>(library, kInitializeOrdinal);
    uninitialize_ = procByOrdinal<PcanUninitialize>(library, kUninitializeOrdinal);
    read_ = procByOrdinal<PcanRead>(library, kReadOrdinal);
    write_ = procByOrdinal<PcanWrite>(library, kWriteOrdinal);
    if (initialize_ == nullptr || uninitialize_ == nullptr || read_ == nullptr ||
        write_ == nullptr) {
      FreeLibrary(library);
      return false;
    }
    library_ = library;
    return true;
  }

  bool locked_ = false;
  bool load_tried_ = false;
  HMODULE library_ = nullptr;  // held until the process ends
  PcanInitialize initialize_ = nullptr;
  PcanUninitialize uninitialize_ = nullptr;
  PcanRead read_ = nullptr;
  PcanWrite write_ = nullptr;
};

}  // namespace

std::unique_ptr<CanPort> makeAdapterPort() {
  return std::make_unique<PcanBasicPort>();
}
