#pragma once

#include "core/reception/PortTable.h"

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The serial ports present on this computer: the ports the platform itself knows as serial
// ports (which already leaves out printers and other ttys), then the virtual ports of running
// simulators. Names and friendly names are CP932, like every text the app handles.
std::vector<EnumeratedPort> EnumerateSerialPorts();

// Where the port selection dialog gets its ports from.
using PortLister = std::function<std::vector<EnumeratedPort>()>;

// CP932 for the screen and back. Characters CP932 cannot hold become '?'.
QString Cp932ToQString(std::string_view text);
std::string QStringToCp932(const QString& text);
