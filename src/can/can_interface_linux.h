// Which SocketCAN network interface stands for the adapter's first USB channel.
#pragma once

#include <string>

/// The interface of the first PEAK USB channel: among the interfaces under |sysfsNet| (normally
/// /sys/class/net) whose device driver is peak_usb, the one with the lowest interface index;
/// "can0" when there is none.
std::string chooseCanInterface(const std::string& sysfsNet);
