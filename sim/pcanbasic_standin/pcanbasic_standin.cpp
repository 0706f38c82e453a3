// A stand-in for the adapter library PCANBasic.dll: its channel is the virtual hand's adapter,
// on the host's real clock, so the Windows build can be run under Wine without an adapter.
//
// The one who starts the program chooses the hand's situation through the environment:
//
//   NODLETFLASH_STANDIN=scenario=NAME;node=N;report=PATH
//
// Every key may be left out: the scenario is then "normal", the node 12 and no report is
// written. The report, the virtual hand's account of the run, is written when the library is
// unloaded, which for a loaded library is the end of the process. A setting the stand-in cannot
// use is reported on standard error, and every call then fails.
//
// The channel takes only the settings the program is meant to use (channel 0x51 at 1 Mbit/s, no
// hardware settings); any other call fails, as a call to a channel that is not there would.
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "can/can_frame.h"
#include "hand_rig.h"
#include "scenario.h"
#include "sim_clock.h"
#include "sim_report.h"

namespace {

constexpr uint16_t kChannel = 0x51;
constexpr uint16_t kBitRate1M = 0x0014;

/// Failure statuses of the stand-in itself; the adapter model has its own.
constexpr CanStatus kStandinUnusable = 0x1000000;
constexpr CanStatus kStandinBadArgument = 0x2000000;

/// The library's timestamp record: milliseconds, their overflow, and microseconds.
struct Timestamp {
  uint32_t milliseconds;
  uint16_t millisecondOverflow;
  uint16_t microseconds;
};
static_assert(sizeof(Timestamp) == 8);
static_assert(sizeof(CanFrame) == 16 && offsetof(CanFrame, data) == 6);

/// What the environment asked for.
struct Settings {
  Scenario scenario;
  int node = 12;
  std::string reportPath;
};

/// The hand behind the channel, for the life of the loaded library.
struct Standin {
  Settings settings;
  bool usable = false;
  std::chrono::steady_clock::time_point loadedAt;
  std::unique_ptr<RealClock> clock;
  std::unique_ptr<HandRig> rig;
};

// Created when the library is loaded, written out and deleted when it is unloaded.
Standin* g_standin = nullptr;

// Reads one "key=value" setting into |settings|; false names a setting that cannot be used.
bool applySetting(const std::string& item, Settings* settings, std::string* problem) {
  size_t equals = item.find('=');
  std::string key = item.substr(0, equals);
  std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
  if (key == "scenario") {
    if (!parseScenario(value, &settings->scenario)) {
      *problem = "unknown scenario '" + value + "' (known: " + scenarioNames() + ")";
      return false;
    }
    // The program schedules itself through Windows' own calls, which the library cannot reach.
    if (settings->scenario.scheduling != SchedulingFault::kNone) {
      *problem = "scenario '" + value + "' is about scheduling, which this library cannot change";
      return false;
    }
    return true;
  }
  if (key == "node") {
    char* end = nullptr;
    long node = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || node < 1 || node > 0x7FF) {
      *problem = "node '" + value + "' is not a CAN identifier";
      return false;
    }
    settings->node = static_cast<int>(node);
    return true;
  }
  if (key == "report" && !value.empty()) {
    settings->reportPath = value;
    return true;
  }
  *problem = "cannot use the setting '" + item + "'";
  return false;
}

// Reads the settings from the environment; an unset variable gives the defaults.
bool readSettings(Settings* settings, std::string* problem) {
  parseScenario("normal", &settings->scenario);
  const char* text = std::getenv("NODLETFLASH_STANDIN");
  if (text == nullptr) {
    return true;
  }
  std::string rest = text;
  while (!rest.empty()) {
    size_t semicolon = rest.find(';');
    std::string item = rest.substr(0, semicolon);
    rest = semicolon == std::string::npos ? "" : rest.substr(semicolon + 1);
    if (!item.empty() && !applySetting(item, settings, problem)) {
      return false;
    }
  }
  return true;
}

void load() {
  g_standin = new Standin;
  Standin& s = *g_standin;
  s.loadedAt = std::chrono::steady_clock::now();
  std::string problem;
  if (!readSettings(&s.settings, &problem)) {
    std::fprintf(stderr, "PCANBasic stand-in: NODLETFLASH_STANDIN: %s\n", problem.c_str());
    return;
  }
  s.clock = std::make_unique<RealClock>();
  s.rig = std::make_unique<HandRig>(*s.clock, rigConfigFor(s.settings.scenario, s.settings.node));
  s.usable = true;
}

void writeReportFile(Standin& s) {
  if (s.settings.reportPath.empty()) {
    return;
  }
  std::FILE* out = std::fopen(s.settings.reportPath.c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "PCANBasic stand-in: cannot write %s\n", s.settings.reportPath.c_str());
    return;
  }
  s.rig->catchUp();
  ReportContext context;
  context.scenario = s.settings.scenario.name;
  context.clock = "real";
  // The CPUs the program confined itself to.
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) {
    context.affinityMask = processMask;
  }
  context.wallTime = static_cast<SimTime>(std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - s.loadedAt)
                                              .count());
  writeRigReport(out, *s.rig, context);
  std::fclose(out);
}

void unload() {
  if (g_standin == nullptr) {
    return;
  }
  if (g_standin->usable) {
    writeReportFile(*g_standin);
  }
  delete g_standin;
  g_standin = nullptr;
}

// The rig, when the settings could be used.
HandRig* rig() {
  return g_standin != nullptr && g_standin->usable ? g_standin->rig.get() : nullptr;
}

}  // namespace

extern "C" {

CanStatus WINAPI standinInitialize(uint16_t channel, uint16_t bitRate, uint8_t hardwareType,
                                   uint32_t ioPort, uint16_t interrupt) {
  HandRig* hand = rig();
  if (hand == nullptr) {
    return kStandinUnusable;
  }
  if (channel != kChannel || bitRate != kBitRate1M || hardwareType != 0 || ioPort != 0 ||
      interrupt != 0) {
    return kStandinBadArgument;
  }
  return hand->open();
}

CanStatus WINAPI standinUninitialize(uint16_t channel) {
  HandRig* hand = rig();
  if (hand == nullptr) {
    return kStandinUnusable;
  }
  if (channel != kChannel) {
    return kStandinBadArgument;
  }
  return hand->close();
}

CanStatus WINAPI standinRead(uint16_t channel, CanFrame* message, Timestamp* timestamp) {
  HandRig* hand = rig();
  if (hand == nullptr) {
    return kStandinUnusable;
  }
  if (channel != kChannel || message == nullptr) {
    return kStandinBadArgument;
  }
  CanStatus status = hand->read(message);
  if (status == kCanOk && timestamp != nullptr) {
    SimTime now = hand->now();
    uint64_t milliseconds = now / kMillisecond;
    timestamp->milliseconds = static_cast<uint32_t>(milliseconds);
    timestamp->millisecondOverflow = static_cast<uint16_t>(milliseconds >> 32);
    timestamp->microseconds = static_cast<uint16_t>(now % kMillisecond);
  }
  return status;
}

CanStatus WINAPI standinWrite(uint16_t channel, CanFrame* message) {
  HandRig* hand = rig();
  if (hand == nullptr) {
    return kStandinUnusable;
  }
  if (channel != kChannel || message == nullptr) {
    return kStandinBadArgument;
  }
  return hand->write(*message);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    load();
  } else if (reason == DLL_PROCESS_DETACH) {
    unload();
  }
  return TRUE;
}

}  // extern "C"
