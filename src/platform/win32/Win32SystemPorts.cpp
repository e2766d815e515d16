#include "core/reception/SystemPorts.h"

#include <windows.h>

#include <setupapi.h>

#include <string>

namespace {

// The device setup class "Ports (COM & LPT)".
constexpr GUID PORTS_CLASS = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          length, nullptr, nullptr);
    return result;
}

// A registry string of up to a few hundred characters, without the terminator that a value
// may or may not carry.
std::wstring Terminated(std::wstring text) {
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos) {
        text.resize(end);
    }
    return text;
}

// The port name ("COM5") that the port's driver registered.
std::wstring PortName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::wstring name(256, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    const LONG status = ::RegQueryValueExW(key, L"PortName", nullptr, &type,
                                           reinterpret_cast<BYTE*>(name.data()), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return {};
    }
    name.resize(size / sizeof(wchar_t));
    return Terminated(std::move(name));
}

std::wstring TextProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    std::wstring text(512, L'\0');
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(
            devices, &device, property, &type, reinterpret_cast<BYTE*>(text.data()),
            static_cast<DWORD>(text.size() * sizeof(wchar_t)), nullptr) ||
        type != REG_SZ) {
        return {};
    }
    return Terminated(std::move(text));
}

} // namespace

// The ports present now, as Device Manager lists them: the name from the port's registry
// key, the description from its friendly name ("USB Serial Port (COM5)") or, lacking one,
// its device description. Virtual port drivers register in the same class.
std::vector<EnumeratedPort> EnumerateSystemPorts() {
    std::vector<EnumeratedPort> ports;
    const HDEVINFO devices = ::SetupDiGetClassDevsW(&PORTS_CLASS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return ports;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const std::wstring name = PortName(devices, device);
        if (name.empty()) {
            continue;
        }
        std::wstring description = TextProperty(devices, device, SPDRP_FRIENDLYNAME);
        if (description.empty()) {
            description = TextProperty(devices, device, SPDRP_DEVICEDESC);
        }
        ports.push_back({ToUtf8(name), ToUtf8(description), false});
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return ports;
}
