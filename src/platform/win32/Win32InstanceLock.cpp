#include "core/io/InstanceLock.h"

#include "platform/win32/Win32Security.h"

#include <windows.h>

namespace kltio {
namespace {

// Names are Shift-JIS (code page 932) throughout KLT; Windows takes them as UTF-16.
constexpr UINT NAME_CODE_PAGE = 932;

bool ToWide(const std::string& name, std::wstring& wide) {
    const int length = ::MultiByteToWideChar(NAME_CODE_PAGE, MB_ERR_INVALID_CHARS, name.data(),
                                             static_cast<int>(name.size()), nullptr, 0);
    if (name.empty() || length <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(length));
    ::MultiByteToWideChar(NAME_CODE_PAGE, MB_ERR_INVALID_CHARS, name.data(),
                          static_cast<int>(name.size()), wide.data(), length);
    return true;
}

std::string FromWide(const std::wstring& wide) {
    const int length =
        ::WideCharToMultiByte(NAME_CODE_PAGE, 0, wide.data(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, nullptr);
    std::string name(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(NAME_CODE_PAGE, 0, wide.data(), static_cast<int>(wide.size()),
                          name.data(), length, nullptr, nullptr);
    return name;
}

// The lock is the open file itself: opened with no sharing, nobody else can open it until
// the handle is closed, which the system does when the process ends in any way.
class CWin32InstanceLock : public CInstanceLock {
public:
    explicit CWin32InstanceLock(HANDLE handle) : m_hFile(handle) {}
    ~CWin32InstanceLock() override { ::CloseHandle(m_hFile); }

private:
    HANDLE m_hFile;
};

} // namespace

bool IsPrivateFolder(const std::string& path, bool create) {
    std::wstring wide;
    if (!ToWide(path, wide)) {
        return false;
    }
    if (create) {
        win32::CPrivateSecurity security(true);
        if (security.Attributes()) {
            ::CreateDirectoryW(wide.c_str(), security.Attributes());
        }
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && win32::OwnedByCurrentUser(wide) &&
           win32::ClosedToOtherUsers(wide);
}

std::string FallbackPrivateFolder() {
    std::wstring temp(MAX_PATH + 1, L'\0');
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
    if (length == 0 || length >= temp.size()) {
        temp = L"C:\\Windows\\Temp\\";
    } else {
        temp.resize(length);
    }
    return FromWide(temp + L"klt-" + win32::CurrentUserSid());
}

std::unique_ptr<CInstanceLock> CInstanceLock::TryAcquire(const std::string& path, Result& result) {
    result = Result::Failed;
    std::wstring wide;
    if (!ToWide(path, wide)) {
        return nullptr;
    }
    // A link in place of the lock file is opened as the link, and refused.
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_SHARING_VIOLATION) {
            result = Result::HeldByOther;
        }
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        ::CloseHandle(handle);
        return nullptr;
    }
    result = Result::Acquired;
    return std::make_unique<CWin32InstanceLock>(handle);
}

} // namespace kltio
