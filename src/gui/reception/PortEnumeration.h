#pragma once

#include "core/reception/PortTable.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The serial ports present on this computer: the ports the platform itself knows as serial
// ports (which already leaves out printers and other ttys), then the virtual ports of running
// simulators. Names and friendly names are CP932, like every text the app handles.
std::vector<EnumeratedPort> EnumerateSerialPorts();

// CP932 for the screen and back. Characters CP932 cannot hold become '?'.
QString Cp932ToQString(std::string_view text);
std::string QStringToCp932(const QString& text);

// Test-only: while an object of this class lives, EnumerateSerialPorts returns the given list
// instead of asking the platform, so tests do not depend on the ports of the machine they
// run on.
class ScopedPortListForTesting {
public:
    explicit ScopedPortListForTesting(std::vector<EnumeratedPort> ports);
    ~ScopedPortListForTesting();
    ScopedPortListForTesting(const ScopedPortListForTesting&) = delete;
    ScopedPortListForTesting& operator=(const ScopedPortListForTesting&) = delete;

private:
    std::optional<std::vector<EnumeratedPort>> m_previous;
};
