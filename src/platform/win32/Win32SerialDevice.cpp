#include "platform/win32/Win32SerialDevice.h"

#include <algorithm>
#include <limits>
#include <string>

namespace {

constexpr DWORD PURGE_ALL = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// Never comes into play: the link does not write.
constexpr DWORD WRITE_TOTAL_TIMEOUT_MS = 500;

} // namespace

std::unique_ptr<CSerialDevice> OpenSerialDevice(const char* devicePath, SerialOpenError& error) {
    // Share mode 0: this process alone. No overlapped flag: reads are plain synchronous
    // reads, which the time-outs make return at once.
    const HANDLE handle = ::CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
            error = SerialOpenError::Missing;
            break;
        // A COM port that another program holds answers "access denied", not a sharing
        // violation: the driver allows one open handle.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            error = SerialOpenError::Busy;
            break;
        default:
            error = SerialOpenError::Other;
            break;
        }
        return nullptr;
    }
    error = SerialOpenError::None;
    return std::make_unique<CWin32SerialDevice>(handle);
}

bool SerialDeviceExists(const char* devicePath) {
    // The DOS device name of "\\.\COM5" is "COM5"; the system knows it while the port is
    // there, open or not.
    std::string name = devicePath;
    if (name.rfind(SERIAL_DEVICE_PREFIX, 0) == 0) {
        name.erase(0, sizeof SERIAL_DEVICE_PREFIX - 1);
    }
    char target[MAX_PATH];
    if (!name.empty() && ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
        return true;
    }
    // Any other device path: present if it opens, or is refused only because it is in use.
    const HANDLE handle = ::CreateFileA(devicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return true;
    }
    const DWORD code = ::GetLastError();
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

CWin32SerialDevice::~CWin32SerialDevice() {
    ::CloseHandle(m_hCom);
}

bool CWin32SerialDevice::ClearLineErrors() {
    DWORD errors = 0;
    COMSTAT status{};
    return ::ClearCommError(m_hCom, &errors, &status) != FALSE;
}

bool CWin32SerialDevice::SetQueueSizes(std::size_t input, std::size_t output) {
    constexpr std::size_t LARGEST = std::numeric_limits<DWORD>::max();
    return input <= LARGEST && output <= LARGEST &&
           ::SetupComm(m_hCom, static_cast<DWORD>(input), static_cast<DWORD>(output)) != FALSE;
}

bool CWin32SerialDevice::Purge() {
    return ::PurgeComm(m_hCom, PURGE_ALL) != FALSE;
}

bool CWin32SerialDevice::MakeReadsReturnAtOnce() {
    // An interval time-out of MAXDWORD with both total time-outs 0: a read returns at once
    // with what has arrived, possibly nothing.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = WRITE_TOTAL_TIMEOUT_MS;
    return ::SetCommTimeouts(m_hCom, &timeouts) != FALSE;
}

bool CWin32SerialDevice::BuildDcb(const SerialLineSettings& settings, DCB& dcb) {
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (settings.dataBits < 5 || settings.dataBits > 8) {
        return false;
    }
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    switch (settings.parity) {
    case SerialLineSettings::Parity::None:
        dcb.Parity = NOPARITY;
        break;
    case SerialLineSettings::Parity::Odd:
        dcb.fParity = TRUE;
        dcb.Parity = ODDPARITY;
        break;
    case SerialLineSettings::Parity::Even:
        dcb.fParity = TRUE;
        dcb.Parity = EVENPARITY;
        break;
    }
    switch (settings.stopBits) {
    case 1:
        dcb.StopBits = ONESTOPBIT;
        break;
    case 2:
        dcb.StopBits = TWOSTOPBITS;
        break;
    default:
        return false;
    }
    return true;
}

bool CWin32SerialDevice::ApplyLineSettings(const SerialLineSettings& settings) {
    DCB dcb;
    return BuildDcb(settings, dcb) && ::SetCommState(m_hCom, &dcb) != FALSE;
}

bool CWin32SerialDevice::StopEventNotification() {
    return ::SetCommMask(m_hCom, 0) != FALSE;
}

SerialRead CWin32SerialDevice::Read(std::uint8_t* buffer, std::size_t size, std::size_t& received) {
    received = 0;
    DWORD count = 0;
    const DWORD wanted =
        static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
    if (::ReadFile(m_hCom, buffer, wanted, &count, nullptr)) {
        received = count;
        return SerialRead::Done;
    }
    switch (::GetLastError()) {
    // What the drivers of an unplugged USB-serial adapter answer from then on.
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
        return SerialRead::LineLost;
    default:
        return SerialRead::Failed;
    }
}

bool CWin32SerialDevice::DropDtr() {
    return ::EscapeCommFunction(m_hCom, CLRDTR) != FALSE;
}
