#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Line settings of a serial port. Flow control is always off and DTR and RTS are raised:
// the link only listens, and the machine sends whenever its user asks it to.
struct SerialLineSettings {
    enum class Parity { None, Odd, Even };

    unsigned baudRate;
    int dataBits;
    Parity parity;
    int stopBits;
};

// What a read of the port found.
enum class SerialRead {
    Done,     // the bytes that had arrived, possibly none
    Failed,   // the read failed; the port may still deliver later
    LineLost, // the device is gone or hung up (adapter unplugged, other end closed): nothing
              // more will arrive on this descriptor
};

// What a wait for input found.
enum class SerialWait {
    Input,     // bytes wait to be read, or this device cannot tell: read to see
    TimedOut,  // nothing arrived in the time given
    Cancelled, // CancelWait ended it
    HungUp,    // the line is lost or failing; bytes that arrived before it are still read
};

// One open serial port, as the platform provides it. Each operation is one step of opening,
// reading or closing the port; the serial link decides their order and what a failure means.
// A step that a kind of device cannot carry out, but whose effect does not apply to it
// (modem lines on a pseudo-terminal), succeeds. Nothing here ever writes to the port.
// Destroying the object releases the port.
class CSerialDevice {
public:
    virtual ~CSerialDevice() = default;

    // Clears a pending line-error condition so that reading can go on.
    virtual bool ClearLineErrors() = 0;

    // Asks for driver queues of these sizes.
    virtual bool SetQueueSizes(std::size_t input, std::size_t output) = 0;

    // Abandons pending reads and writes and discards everything queued in both directions.
    virtual bool Purge() = 0;

    // Makes every later read return at once with the bytes already received, possibly none.
    virtual bool MakeReadsReturnAtOnce() = 0;

    // Applies the line settings in raw 8-bit mode (no translation, no flow control, bytes with
    // a parity error and zero bytes delivered as received) and raises DTR and RTS.
    virtual bool ApplyLineSettings(const SerialLineSettings& settings) = 0;

    // Stops any notification of port events.
    virtual bool StopEventNotification() = 0;

    // Delivers up to size received bytes without waiting. received is 0 when nothing has
    // arrived, which is not a failure; bytes that arrived before the line was lost are
    // delivered before LineLost is reported.
    virtual SerialRead Read(std::uint8_t* buffer, std::size_t size, std::size_t& received) = 0;

    // Drops DTR.
    virtual bool DropDtr() = 0;

    // Sleeps until input has arrived, the line is lost, CancelWait is called or timeoutMs
    // (negative: no limit) has passed; it returns at once when one of them already holds. A
    // device that cannot wait for its input returns Input at once, so a caller that paces
    // its reads polls it as before.
    virtual SerialWait WaitForInput(int timeoutMs) {
        (void)timeoutMs;
        return SerialWait::Input;
    }

    // Ends a WaitForInput running on another thread at once; when none runs, the next one
    // returns Cancelled at once. The only call that may be made while another thread uses
    // the device.
    virtual void CancelWait() {}
};

// Why a serial device could not be opened; the user is told what to do about each.
enum class SerialOpenError {
    None,             // it was opened
    Missing,          // no such device (an adapter that is not plugged in)
    Busy,             // in use by another program, or by this one
    PermissionDenied, // present, but this user may not read and write it
    Other,            // any other failure, including a device that would not take the settings
};

// Opens the serial device at devicePath for reading and writing, for this process alone.
// Null when it cannot, with error telling why: Busy also when another program has it open
// or holds its lock, Missing when the device is not (or no longer) there.
std::unique_ptr<CSerialDevice> OpenSerialDevice(const char* devicePath, SerialOpenError& error);

// Whether the device at devicePath is there (plugged in), whether or not anyone has it open.
// Nothing is opened for reading or writing to find out.
bool SerialDeviceExists(const char* devicePath);

// A port name becomes a device path by this prefix; a name that is already a path is used
// as it stands.
#ifdef _WIN32
inline constexpr char SERIAL_DEVICE_PREFIX[] = "\\\\.\\";
inline bool IsDevicePath(const char* name) {
    return name[0] == '\\' && name[1] == '\\';
}
#else
inline constexpr char SERIAL_DEVICE_PREFIX[] = "/dev/";
inline bool IsDevicePath(const char* name) {
    return name[0] == '/';
}
#endif
