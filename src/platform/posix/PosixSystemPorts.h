#pragma once

#include "core/reception/PortTable.h"

#include <string>
#include <vector>

// The real serial ports under a sysfs tty class folder (normally /sys/class/tty): every tty
// backed by a device, except the legacy 8250 slots that have no UART behind them (their
// "type" reads 0). The friendly name comes from the USB strings of the device, if any:
// manufacturer and product, and the interface's own name where it has one.
std::vector<EnumeratedPort> EnumerateTtyPorts(const std::string& ttyClassFolder);
