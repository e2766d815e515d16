#include "core/reception/ComAPI.h"

#include "core/reception/SerialDevice.h"

#include <cstdio>
#include <cstring>

namespace {

// The machine's line: 2400 baud, 8 data bits, even parity, 2 stop bits; twelve bit times
// per byte, so at most 200 bytes a second arrive.
constexpr SerialLineSettings MACHINE_LINE = {2400, 8, SerialLineSettings::Parity::Even, 2};

constexpr std::size_t DRIVER_QUEUE_SIZE = 4096;
constexpr std::size_t DRAIN_BUFFER_SIZE = 256;

} // namespace

CComAPI::CComAPI() : CComAPI(OpenSerialDevice) {}

CComAPI::CComAPI(DeviceOpener openDevice)
    : m_pfnOpenDevice(openDevice), m_lastOpenError(SerialOpenError::None) {}

CComAPI::~CComAPI() = default;

bool CComAPI::BuildDevicePath(const char* portName, char* path, std::size_t size) {
    if (path == nullptr || size == 0) {
        return false;
    }
    std::memset(path, 0, size);
    if (portName == nullptr || portName[0] == '\0') {
        return false;
    }
    const char* prefix = IsDevicePath(portName) ? "" : SERIAL_DEVICE_PREFIX;
    const int length = std::snprintf(path, size, "%s%s", prefix, portName);
    if (length < 0 || static_cast<std::size_t>(length) >= size) {
        std::memset(path, 0, size);
        return false;
    }
    return true;
}

void CComAPI::ReleasePort() {
    // The results do not matter: the port is released in any case.
    m_hCom->Purge();
    m_hCom->DropDtr();
    m_hCom->StopEventNotification();
    m_hCom.reset();
}

int CComAPI::OpenPort(const char* portName) {
    if (m_hCom) {
        ReleasePort();
    }
    m_lastOpenError = SerialOpenError::Other;
    char path[DEVICE_PATH_SIZE];
    if (!BuildDevicePath(portName, path, sizeof path)) {
        return 0;
    }
    m_hCom = m_pfnOpenDevice(path, m_lastOpenError);
    if (!m_hCom) {
        return 0;
    }
    m_hCom->ClearLineErrors();
    const bool configured = m_hCom->SetQueueSizes(DRIVER_QUEUE_SIZE, DRIVER_QUEUE_SIZE) &&
                            m_hCom->Purge() && m_hCom->MakeReadsReturnAtOnce() &&
                            m_hCom->ApplyLineSettings(MACHINE_LINE) &&
                            m_hCom->StopEventNotification();
    if (!configured) {
        // A half-configured port is released as it is: no purge, no DTR step.
        m_hCom.reset();
        m_lastOpenError = SerialOpenError::Other;
        return 0;
    }
    m_lastOpenError = SerialOpenError::None;
    return 1;
}

int CComAPI::OpenAndDrain(const char* portName) {
    const int result = OpenPort(portName);
    if (result != 1) {
        return result;
    }
    // What arrived before the open belongs to no reception; it bypasses the decoder.
    std::uint8_t discard[DRAIN_BUFFER_SIZE];
    std::size_t received = 0;
    do {
        m_hCom->ClearLineErrors();
    } while (m_hCom->Read(discard, sizeof discard, received) == SerialRead::Done && received > 0);
    return 1;
}

int CComAPI::ReadAndDecode(std::uint8_t* out, std::size_t& decodedLength) {
    decodedLength = 0;
    if (!m_hCom) {
        m_dwRxLen = 0;
        return 0;
    }
    m_hCom->ClearLineErrors();
    std::size_t received = 0;
    const SerialRead result = m_hCom->Read(m_byRxBuf, RX_BUFFER_SIZE, received);
    m_dwRxLen = result == SerialRead::Done ? static_cast<std::uint32_t>(received) : 0;
    if (result == SerialRead::LineLost) {
        return READ_LINE_LOST;
    }
    if (m_dwRxLen == 0) {
        return 0;
    }
    decodedLength = DecodeBytes(m_byRxBuf, m_dwRxLen, out);
    return 1;
}

SerialWait CComAPI::WaitForInput(int timeoutMs) {
    return m_hCom ? m_hCom->WaitForInput(timeoutMs) : SerialWait::Input;
}

void CComAPI::CancelWait() {
    if (m_hCom) {
        m_hCom->CancelWait();
    }
}

void CComAPI::ClosePort() {
    if (m_hCom) {
        ReleasePort();
    }
    ResetDecoder();
}
