// The sysfs enumeration of serial ports, on a tree of real folders, files and links laid out
// as the kernel lays out /sys.
#include "common/TempFolder.h"
#include "platform/posix/PosixSystemPorts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

class SystemPorts : public TempFolderTest {
protected:
    // A tty class entry, linked like /sys/class/tty/NAME to its folder under devices/, with
    // a device link when devicePath is given.
    void AddTty(const std::string& name, const std::string& devicePath) {
        const fs::path ttyFolder =
            m_folder / "devices" / (devicePath.empty() ? "virtual" : devicePath) / "tty" / name;
        fs::create_directories(ttyFolder);
        if (!devicePath.empty()) {
            fs::create_directory_symlink(m_folder / "devices" / devicePath, ttyFolder / "device");
        }
        fs::create_directories(m_folder / "class" / "tty");
        fs::create_directory_symlink(ttyFolder, m_folder / "class" / "tty" / name);
    }

    void Attribute(const std::string& relative, const std::string& value) {
        fs::create_directories((m_folder / relative).parent_path());
        WriteFile((m_folder / relative).string(), value + "\n");
    }

    std::vector<EnumeratedPort> Enumerate() {
        std::vector<EnumeratedPort> ports =
            EnumerateTtyPorts((m_folder / "class" / "tty").string());
        std::sort(ports.begin(), ports.end(),
                  [](const auto& a, const auto& b) { return a.portName < b.portName; });
        return ports;
    }
};

TEST_F(SystemPorts, DevicesAreListedWithTheirUsbStrings) {
    const std::string usbDevice = "pci0000:00/usb1/1-1";
    Attribute("devices/" + usbDevice + "/idVendor", "0403");
    Attribute("devices/" + usbDevice + "/manufacturer", "FTDI");
    Attribute("devices/" + usbDevice + "/product", "FT232R USB UART");
    Attribute("devices/" + usbDevice + "/1-1:1.0/bInterfaceNumber", "00");
    AddTty("ttyUSB0", usbDevice + "/1-1:1.0/ttyUSB0");

    // A CDC device: the tty hangs off the interface itself, which has a name of its own.
    const std::string acmDevice = "pci0000:00/usb1/1-2";
    Attribute("devices/" + acmDevice + "/idVendor", "2341");
    Attribute("devices/" + acmDevice + "/product", "Uno");
    Attribute("devices/" + acmDevice + "/1-2:1.0/bInterfaceNumber", "00");
    Attribute("devices/" + acmDevice + "/1-2:1.0/interface", "CDC Abstract Control Model");
    AddTty("ttyACM0", acmDevice + "/1-2:1.0");

    // An on-board UART with a real port type, and a legacy 8250 slot with none behind it.
    Attribute("devices/pnp0/00:01/tty/ttyS0/type", "4");
    AddTty("ttyS0", "pnp0/00:01");
    Attribute("devices/platform/serial8250/tty/ttyS1/type", "0");
    AddTty("ttyS1", "platform/serial8250");

    // Consoles and pseudo-terminals have no device.
    AddTty("tty1", "");
    AddTty("ptmx", "");

    const std::vector<EnumeratedPort> ports = Enumerate();
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].portName, "ttyACM0");
    EXPECT_EQ(ports[0].friendlyName, "Uno (CDC Abstract Control Model)");
    EXPECT_EQ(ports[1].portName, "ttyS0");
    EXPECT_EQ(ports[1].friendlyName, "");
    EXPECT_EQ(ports[2].portName, "ttyUSB0");
    EXPECT_EQ(ports[2].friendlyName, "FTDI FT232R USB UART");
    for (const EnumeratedPort& port : ports) {
        EXPECT_FALSE(port.isVirtual) << port.portName;
    }
}

TEST_F(SystemPorts, MissingFolderGivesNoPorts) {
    EXPECT_TRUE(EnumerateTtyPorts((m_folder / "nothing").string()).empty());
}

} // namespace
