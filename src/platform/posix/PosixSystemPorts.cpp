#include "platform/posix/PosixSystemPorts.h"

#include "core/reception/SystemPorts.h"
#include "platform/posix/VirtualPortRegistry.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// How far above the tty's device the USB device may lie (port, interface, device, ...).
constexpr int MAX_ANCESTORS = 6;

// The first line of a small sysfs attribute, without its line end; empty when unreadable.
std::string ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

std::string FriendlyName(const fs::path& device) {
    std::string manufacturer;
    std::string product;
    std::string interfaceName;
    fs::path at = device;
    for (int level = 0; level < MAX_ANCESTORS && at.has_relative_path(); ++level) {
        std::error_code error;
        if (interfaceName.empty() && fs::exists(at / "bInterfaceNumber", error)) {
            interfaceName = ReadAttribute(at / "interface");
        }
        if (fs::exists(at / "idVendor", error)) {
            manufacturer = ReadAttribute(at / "manufacturer");
            product = ReadAttribute(at / "product");
            break;
        }
        at = at.parent_path();
    }
    std::string name = product;
    if (!manufacturer.empty() && product.find(manufacturer) == std::string::npos) {
        name = product.empty() ? manufacturer : manufacturer + " " + product;
    }
    if (!interfaceName.empty() && interfaceName != product) {
        name = name.empty() ? interfaceName : name + " (" + interfaceName + ")";
    }
    return name;
}

} // namespace

std::vector<EnumeratedPort> EnumerateTtyPorts(const std::string& ttyClassFolder) {
    std::vector<EnumeratedPort> ports;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(ttyClassFolder, error)) {
        const fs::path tty = entry.path();
        std::error_code ignored;
        // Consoles, virtual terminals and pseudo-terminals have no device behind them.
        const fs::path device = fs::canonical(tty / "device", ignored);
        if (ignored) {
            continue;
        }
        if (fs::exists(tty / "type", ignored) && ReadAttribute(tty / "type") == "0") {
            continue;
        }
        ports.push_back({tty.filename().string(), FriendlyName(device), false});
    }
    return ports;
}

std::vector<EnumeratedPort> EnumerateSystemPorts() {
    std::vector<EnumeratedPort> ports = EnumerateTtyPorts("/sys/class/tty");
    for (const vports::Entry& entry : vports::List()) {
        ports.push_back({entry.portName, entry.description, true});
    }
    return ports;
}
