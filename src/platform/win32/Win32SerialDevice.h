#pragma once

#include "core/reception/SerialDevice.h"

#include <windows.h>

// A serial port through the Win32 communications functions: a COM port of a built-in UART,
// a USB-serial adapter or a virtual port driver.
class CWin32SerialDevice final : public CSerialDevice {
public:
    explicit CWin32SerialDevice(HANDLE handle) : m_hCom(handle) {}
    ~CWin32SerialDevice() override;
    CWin32SerialDevice(const CWin32SerialDevice&) = delete;
    CWin32SerialDevice& operator=(const CWin32SerialDevice&) = delete;

    bool ClearLineErrors() override;
    bool SetQueueSizes(std::size_t input, std::size_t output) override;
    bool Purge() override;
    bool MakeReadsReturnAtOnce() override;
    bool ApplyLineSettings(const SerialLineSettings& settings) override;
    bool StopEventNotification() override;
    SerialRead Read(std::uint8_t* buffer, std::size_t size, std::size_t& received) override;
    bool DropDtr() override;

    // The device control block of the settings, built from nothing so no setting left by
    // another program survives: binary, no flow control of any kind, parity errors and zero
    // bytes delivered as received, DTR and RTS raised. False for settings a DCB cannot hold.
    static bool BuildDcb(const SerialLineSettings& settings, DCB& dcb);

private:
    HANDLE m_hCom;
};
