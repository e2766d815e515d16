#pragma once

#include "core/reception/PortTable.h"

#include <vector>

// The serial ports present on this computer, as the platform finds them without any
// toolkit: the real serial ports, then the virtual ports of running simulators. Friendly
// names are UTF-8 here, as the system reports them; the port table wants them in CP932.
// The order is the platform's; FillPortTable puts them in the list's order.
std::vector<EnumeratedPort> EnumerateSystemPorts();
