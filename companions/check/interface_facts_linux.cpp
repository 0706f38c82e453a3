#include <filesystem>
#include <fstream>
#include <system_error>

#include "can/can_interface_linux.h"
#include "linux_facts.h"

namespace fs = std::filesystem;

namespace {

// The link type of a CAN interface in sysfs ("type").
constexpr int kLinkTypeCan = 280;
constexpr unsigned kFlagUp = 0x1;
// PEAK-System's USB vendor id, as sysfs writes it.
constexpr const char* kPeakVendorId = "0c72";

std::string firstWord(const fs::path& file) {
  std::ifstream in(file);
  std::string word;
  in >> word;
  return word;
}

std::string driverOf(const fs::path& interface) {
  std::error_code error;
  fs::path driver = fs::read_symlink(interface / "device" / "driver", error);
  return error ? "" : driver.filename().string();
}

// PEAK's own driver shows as a module named "pcan", a "pcan" class, or /dev/pcan* devices.
bool vendorDriverLoaded(const SystemRoots& roots) {
  std::ifstream modules(roots.proc + "/modules");
  std::string line;
  while (std::getline(modules, line)) {
    if (line.rfind("pcan ", 0) == 0) {
      return true;
    }
  }
  std::error_code error;
  if (fs::exists(roots.sys + "/class/pcan", error)) {
    return true;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(roots.dev, error)) {
    if (entry.path().filename().string().rfind("pcan", 0) == 0) {
      return true;
    }
  }
  return false;
}

int peakUsbDevices(const SystemRoots& roots) {
  int count = 0;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(roots.sys + "/bus/usb/devices", error)) {
    if (firstWord(entry.path() / "idVendor") == kPeakVendorId) {
      ++count;
    }
  }
  return count;
}

}  // namespace

InterfaceFacts readInterfaceFacts(const SystemRoots& roots) {
  InterfaceFacts facts;
  std::string net = roots.sys + "/class/net";
  CanInterfaceChoice choice = chooseCanInterface(net, roots.config, roots.configOwner);
  facts.name = choice.name;
  facts.rule = choice.rule;
  facts.config = choice.config;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(net, error)) {
    if (driverOf(entry.path()) == "peak_usb") {
      ++facts.peakUsbInterfaces;
    }
  }
  fs::path interface = fs::path(net) / facts.name;
  facts.exists = !facts.name.empty() && fs::exists(interface, error);
  if (facts.exists) {
    facts.driver = driverOf(interface);
    facts.isCan = firstWord(interface / "type") == std::to_string(kLinkTypeCan);
    unsigned long flags = std::strtoul(firstWord(interface / "flags").c_str(), nullptr, 16);
    facts.up = (flags & kFlagUp) != 0;
  }
  facts.vendorDriver = vendorDriverLoaded(roots);
  facts.peakUsbDevices = peakUsbDevices(roots);
  return facts;
}
