#pragma once

#include "core/reception/SerialDevice.h"
#include "platform/posix/PortUsers.h"

#include <string>

#include <termios.h>

// A serial port on a POSIX terminal device: a real serial line, a USB-serial adapter or a
// pseudo-terminal.
class CPosixSerialDevice final : public CSerialDevice {
public:
    explicit CPosixSerialDevice(int fd);

    // Opens the device at path for this process alone (OpenExclusive) and, while it is open,
    // holds a UUCP lock on it in lockFolder. Null with errno set when it cannot.
    static std::unique_ptr<CPosixSerialDevice>
    Open(const char* path, const std::string& lockFolder = portusers::DEFAULT_LOCK_FOLDER);

    ~CPosixSerialDevice() override;
    CPosixSerialDevice(const CPosixSerialDevice&) = delete;
    CPosixSerialDevice& operator=(const CPosixSerialDevice&) = delete;

    bool ClearLineErrors() override;
    bool SetQueueSizes(std::size_t input, std::size_t output) override;
    bool Purge() override;
    bool MakeReadsReturnAtOnce() override;
    bool ApplyLineSettings(const SerialLineSettings& settings) override;
    bool StopEventNotification() override;
    SerialRead Read(std::uint8_t* buffer, std::size_t size, std::size_t& received) override;
    bool DropDtr() override;
    SerialWait WaitForInput(int timeoutMs) override;
    void CancelWait() override;

    // The steps below are shared with the machine simulator, which drives a real line with
    // the same settings and the same exclusive use.

    // Opens path non-blocking (so a line without carrier does not hold up the open) and
    // takes it for this process alone: a non-blocking flock, which also stops a second open
    // by root or by this process, and TIOCEXCL, which stops other programs that take no lock.
    // A port that another program uses already (a live UUCP lock in lockFolder, or an open
    // descriptor) is refused before it is opened, so its modem lines are left alone.
    // Returns the descriptor, or -1 with errno set: EBUSY when the port is in use, ENOENT
    // when the device is not there (also when a device that has just been unplugged fails
    // the open in another way).
    static int OpenExclusive(const char* path,
                             const std::string& lockFolder = portusers::DEFAULT_LOCK_FOLDER);

    // Gives up the exclusive use and closes the descriptor. TIOCEXCL outlives the descriptor
    // on a pseudo-terminal, so it is cleared first or the port could not be opened again.
    static void CloseExclusive(int fd);

    // The raw-mode attributes of the settings; false for a speed the platform cannot set.
    static bool BuildTermios(const SerialLineSettings& settings, termios& attributes);

    // Applies the attributes of the settings and raises DTR and RTS.
    static bool ConfigureLine(int fd, const SerialLineSettings& settings);

private:
    int m_fd;
    portusers::CUucpLock m_lock;
    // A pipe whose read end wakes WaitForInput: CancelWait writes a byte, the wait drains it.
    // -1 when no pipe could be made; the wait is then kept short.
    int m_cancelRead = -1;
    int m_cancelWrite = -1;
};
