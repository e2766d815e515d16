#pragma once

#include <windows.h>

#include <string>

// Access for the user alone. A folder in the user's profile is closed to other users by the
// rights it inherits, but a path elsewhere (a temporary folder, another drive) may not be, so
// what must stay private gets an explicit access list: full access for the user, nothing
// inherited, nobody else.
namespace win32 {

// A security descriptor that grants the calling user alone full access; for a folder it is
// inherited by what is made inside.
class CPrivateSecurity {
public:
    explicit CPrivateSecurity(bool folder);
    ~CPrivateSecurity();
    CPrivateSecurity(const CPrivateSecurity&) = delete;
    CPrivateSecurity& operator=(const CPrivateSecurity&) = delete;

    // Null when the descriptor could not be built.
    SECURITY_ATTRIBUTES* Attributes() { return m_pDescriptor ? &m_attributes : nullptr; }
    PSECURITY_DESCRIPTOR Descriptor() const { return m_pDescriptor; }

private:
    PSECURITY_DESCRIPTOR m_pDescriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{};
};

// The calling user's security identifier as text ("S-1-5-21-..."); empty when unknown.
std::wstring CurrentUserSid();

// Whether path (not followed when it is a link) belongs to the calling user: its owner is the
// user, or the owner the user's token gives new objects (the Administrators group for an
// elevated user).
bool OwnedByCurrentUser(const std::wstring& path);

// Whether no other user is granted any access to path: its access list allows the calling
// user and the operating system itself (LocalSystem, which can read every file anyway), and
// nobody else. An entry that denies is no concern.
bool ClosedToOtherUsers(const std::wstring& path);

// Replaces the access list of an existing file or folder by the private one.
bool RestrictToCurrentUser(const std::wstring& path, bool folder);

} // namespace win32
