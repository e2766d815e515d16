#include "platform/win32/Win32Security.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace win32 {
namespace {

// The token's information of one class, or an empty buffer.
std::vector<BYTE> TokenInformation(TOKEN_INFORMATION_CLASS kind) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, kind, buffer.data(), size, &size)) {
        buffer.clear();
    }
    ::CloseHandle(token);
    return buffer;
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) {
        return {};
    }
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

// "P": protected, nothing inherited from the parent; "OICI": files and folders made inside
// inherit the entry; "FA": full access.
std::wstring PrivateSddl(bool folder) {
    const std::wstring sid = CurrentUserSid();
    if (sid.empty()) {
        return {};
    }
    return L"D:P(A;" + std::wstring(folder ? L"OICI" : L"") + L";FA;;;" + sid + L")";
}

} // namespace

CPrivateSecurity::CPrivateSecurity(bool folder) {
    const std::wstring sddl = PrivateSddl(folder);
    if (sddl.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                            sddl.c_str(), SDDL_REVISION_1, &m_pDescriptor, nullptr)) {
        m_pDescriptor = nullptr;
        return;
    }
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = m_pDescriptor;
    m_attributes.bInheritHandle = FALSE;
}

CPrivateSecurity::~CPrivateSecurity() {
    if (m_pDescriptor) {
        ::LocalFree(m_pDescriptor);
    }
}

std::wstring CurrentUserSid() {
    const std::vector<BYTE> user = TokenInformation(TokenUser);
    if (user.empty()) {
        return {};
    }
    return SidText(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
}

bool OwnedByCurrentUser(const std::wstring& path) {
    const HANDLE handle = ::CreateFileW(
        path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                           &owner, nullptr, nullptr, nullptr, &descriptor);
    ::CloseHandle(handle);
    if (status != ERROR_SUCCESS) {
        return false;
    }
    const std::vector<BYTE> user = TokenInformation(TokenUser);
    const std::vector<BYTE> defaultOwner = TokenInformation(TokenOwner);
    const bool owned =
        owner != nullptr &&
        ((!user.empty() &&
          ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
         (!defaultOwner.empty() &&
          ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner)));
    ::LocalFree(descriptor);
    return owned;
}

bool ClosedToOtherUsers(const std::wstring& path) {
    const std::vector<BYTE> user = TokenInformation(TokenUser);
    if (user.empty()) {
        return false;
    }
    const PSID userSid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    BYTE systemSid[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof systemSid;
    if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize)) {
        return false;
    }
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = path;
    if (::GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    // No access list at all grants everyone everything.
    bool onlyUser = acl != nullptr;
    for (DWORD i = 0; onlyUser && i < acl->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(acl, i, &entry)) {
            onlyUser = false;
        } else if (static_cast<ACE_HEADER*>(entry)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            const PSID sid = reinterpret_cast<PSID>(&allowed->SidStart);
            onlyUser = ::EqualSid(sid, userSid) || ::EqualSid(sid, systemSid);
        } else if (static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_DENIED_ACE_TYPE) {
            onlyUser = false; // an entry of a kind not looked into here may allow someone
        }
    }
    ::LocalFree(descriptor);
    return onlyUser;
}

bool RestrictToCurrentUser(const std::wstring& path, bool folder) {
    CPrivateSecurity security(folder);
    if (!security.Descriptor()) {
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    if (!::GetSecurityDescriptorDacl(security.Descriptor(), &present, &acl, &defaulted) ||
        !present) {
        return false;
    }
    std::wstring name = path;
    return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
}

} // namespace win32
