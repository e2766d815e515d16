#pragma once

#include <string>
#include <vector>

// Virtual serial ports announced by the machine simulator (klt-sim), so that the port list
// can offer them next to the real ports. Each live simulator owns one entry file in a
// per-user folder: $XDG_RUNTIME_DIR/klt-ports, else /tmp/klt-ports-<uid>. The file is named
// after the simulator's process id and holds two lines: the port name (as opened by the
// serial link, e.g. "pts/3") and its description. Entries whose process is gone are
// ignored and removed.
namespace vports {

struct Entry {
    std::string portName;
    std::string description;
};

// The registry folder; created (mode 0700) by Register when missing.
std::string RegistryDirectory();

// Announces a port for the calling process. Returns false when the entry could not be
// written.
bool Register(const std::string& portName, const std::string& description);

// Removes the calling process's entry.
void Unregister();

// Ports of live simulators, ordered by port name. Stale entries are deleted on the way.
std::vector<Entry> List();

} // namespace vports
