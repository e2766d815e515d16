#pragma once

#include <string>
#include <vector>

// The port list of the port selection dialog: one record per serial port, in a fixed table.
// Names and descriptions are NUL-terminated CP932 bytes.
struct COMPORT_ENTRY {
    char szPortName[260];
    char szDescription[260];
};

constexpr int MAX_COM_PORTS = 255;

// A port as the platform's enumeration reports it: its name as the serial link opens it
// (e.g. "ttyUSB0", or "pts/3" for a simulator's port) and the device's friendly name.
struct EnumeratedPort {
    std::string portName;
    std::string friendlyName;
    bool isVirtual = false;
};

// Orders port names as a user reads them: digit runs compare by value, so ttyS2 comes before
// ttyS10. Returns true when a sorts before b.
bool PortNameLess(const std::string& a, const std::string& b);

// The description shown for a port: where the friendly name holds "COM" (searched a CP932
// character at a time), the bytes before it less the one just before it, so
// "USB Serial Port (COM5)" gives "USB Serial Port "; otherwise the friendly name itself.
// At most 255 bytes either way.
std::string PortDescription(const std::string& friendlyName);

// Fills table (capacity records) from the enumeration and returns the number of records
// used: real ports first in PortNameLess order, then the virtual ports in the same order.
// Ports with an empty name or a name longer than 258 characters are passed over; beyond
// the capacity, the rest are left out.
int FillPortTable(const std::vector<EnumeratedPort>& ports, COMPORT_ENTRY* table, int capacity);
