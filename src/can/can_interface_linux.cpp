#include "can/can_interface_linux.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

std::string firstPeakUsbInterface(const std::string& sysfsNet) {
  std::string chosen;
  long lowestIndex = LONG_MAX;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysfsNet, error)) {
    fs::path driver = fs::read_symlink(entry.path() / "device" / "driver", error);
    if (error || driver.filename() != "peak_usb") {
      error.clear();
      continue;
    }
    std::ifstream indexFile(entry.path() / "ifindex");
    long index = 0;
    if (indexFile >> index && index < lowestIndex) {
      lowestIndex = index;
      chosen = entry.path().filename().string();
    }
  }
  return chosen;
}

bool configAllowsFallback(InterfaceConfigStatus status) {
  switch (status) {
    case InterfaceConfigStatus::kAbsent:
    case InterfaceConfigStatus::kNothingNamed:
      return true;
    case InterfaceConfigStatus::kNamed:
    case InterfaceConfigStatus::kNotTrusted:
    case InterfaceConfigStatus::kUnreadable:
    case InterfaceConfigStatus::kMalformed:
      return false;
  }
  return false;
}

CanInterfaceChoice chooseCanInterface(const std::string& sysfsNet, const std::string& configPath,
                                      uid_t configOwner) {
  CanInterfaceChoice choice;
  choice.config = readInterfaceConfig(configPath, configOwner);
  if (choice.config.status == InterfaceConfigStatus::kNamed) {
    choice.name = choice.config.interfaceName;
    choice.rule = CanInterfaceRule::kConfigured;
    return choice;
  }
  // A file that exists but does not count may have been meant to name another bus than the
  // first PEAK adapter's: nothing is taken then, rather than a guess.
  if (!configAllowsFallback(choice.config.status)) {
    return choice;
  }
  choice.name = firstPeakUsbInterface(sysfsNet);
  choice.rule = choice.name.empty() ? CanInterfaceRule::kNone : CanInterfaceRule::kPeakUsb;
  return choice;
}

CanOpenPlan planCanOpen(const CanInterfaceState& state, uint32_t bitRate) {
  CanOpenPlan plan;
  if (state.up && state.controller && state.bitRate != 0 && state.bitRate != bitRate) {
    plan.refuse = true;
    return plan;
  }
  plan.stop = state.up;
  plan.setBitRate = state.controller && state.bitRate != bitRate;
  plan.start = true;
  return plan;
}

CanRestorePlan planCanRestore(const CanInterfaceState& found, bool setsBitRate) {
  CanRestorePlan plan;
  plan.up = found.up;
  if (!setsBitRate || !found.controller || found.timing.bitRate == 0) {
    return plan;
  }
  plan.putTimingBack = true;
  if (found.fixedBitRates || found.timing.tq == 0) {
    plan.timing.bitRate = found.timing.bitRate;
  } else {
    // The kernel takes either a bit rate (and computes its own segments, which need not be
    // those found) or a time quantum with segments, never both.
    plan.timing.tq = found.timing.tq;
    plan.timing.propSeg = found.timing.propSeg;
    plan.timing.phaseSeg1 = found.timing.phaseSeg1;
    plan.timing.phaseSeg2 = found.timing.phaseSeg2;
    plan.timing.sjw = found.timing.sjw;
  }
  return plan;
}
