#include "core/io/FileIO.h"

#include "platform/win32/Win32Security.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <random>
#include <vector>

namespace kltio {
namespace {

// Names are Shift-JIS (code page 932) throughout KLT; Windows takes them as UTF-16.
constexpr UINT NAME_CODE_PAGE = 932;
constexpr DWORD IO_CHUNK = 1 << 20;
constexpr std::size_t TEMP_STEM_MAX = 200;
constexpr int TEMP_NAME_ATTEMPTS = 100;
// What a saved file keeps of the file it replaces. Read-only files are refused before.
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::error_code FromWin32(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return std::make_error_code(std::errc::permission_denied);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return std::make_error_code(std::errc::device_or_resource_busy);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return std::make_error_code(std::errc::no_space_on_device);
    case ERROR_FILENAME_EXCED_RANGE:
        return std::make_error_code(std::errc::filename_too_long);
    case ERROR_DIRECTORY:
        return std::make_error_code(std::errc::not_a_directory);
    case ERROR_INVALID_NAME:
        return std::make_error_code(std::errc::invalid_argument);
    default:
        return {static_cast<int>(code), std::system_category()};
    }
}

std::error_code LastError() {
    return FromWin32(::GetLastError());
}

// Converted by the system's own table, so every Shift-JIS name maps as Windows maps it; a
// name that is no valid Shift-JIS is refused rather than guessed at.
bool ToWide(const std::string& name, std::wstring& wide, std::error_code& error) {
    wide.clear();
    if (name.empty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    const int length = ::MultiByteToWideChar(NAME_CODE_PAGE, MB_ERR_INVALID_CHARS, name.data(),
                                             static_cast<int>(name.size()), nullptr, 0);
    if (length <= 0) {
        error = std::make_error_code(std::errc::illegal_byte_sequence);
        return false;
    }
    wide.resize(static_cast<std::size_t>(length));
    ::MultiByteToWideChar(NAME_CODE_PAGE, MB_ERR_INVALID_CHARS, name.data(),
                          static_cast<int>(name.size()), wide.data(), length);
    return true;
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

std::size_t LastSeparator(const std::wstring& path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) {
            return i - 1;
        }
    }
    return std::wstring::npos;
}

// The folder part with its separator ("C:\logs\"), or "" for a bare name.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = LastSeparator(path);
    if (slash != std::wstring::npos) {
        return path.substr(0, slash + 1);
    }
    if (path.size() >= 2 && path[1] == L':') {
        return path.substr(0, 2);
    }
    return L"";
}

std::wstring FileNameOf(const std::wstring& path) {
    return path.substr(FolderOf(path).size());
}

// Windows says only "path not found" when a folder of the path is missing or is a file;
// tell the two apart by the nearest part of the path that exists.
std::error_code PathError(const std::wstring& path, DWORD code) {
    if (code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY) {
        std::wstring folder = path;
        for (;;) {
            while (!folder.empty() && IsSeparator(folder.back())) {
                folder.pop_back();
            }
            const std::size_t slash = LastSeparator(folder);
            if (slash == std::wstring::npos) {
                break;
            }
            folder.resize(slash);
            const DWORD attributes = ::GetFileAttributesW(folder.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES) {
                if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    return std::make_error_code(std::errc::not_a_directory);
                }
                break;
            }
        }
    }
    return FromWin32(code);
}

NodeKind Classify(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
                       code == ERROR_INVALID_NAME || code == ERROR_INVALID_DRIVE
                   ? NodeKind::Missing
                   : NodeKind::Other;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return NodeKind::Directory;
    }
    // Devices (NUL, CON, COM1) and pipes answer with attributes too; only the type of an open
    // handle tells them from files. No access is asked for, so nothing is read or locked.
    const HANDLE handle =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return NodeKind::Regular;
    }
    const DWORD type = ::GetFileType(handle);
    ::CloseHandle(handle);
    switch (type) {
    case FILE_TYPE_DISK:
        return NodeKind::Regular;
    case FILE_TYPE_CHAR:
        return NodeKind::Device;
    default:
        return NodeKind::Other;
    }
}

bool WriteAll(HANDLE handle, const char* data, std::size_t size, std::error_code& error) {
    while (size > 0) {
        const DWORD chunk = size < IO_CHUNK ? static_cast<DWORD>(size) : IO_CHUNK;
        DWORD written = 0;
        if (!::WriteFile(handle, data, chunk, &written, nullptr)) {
            error = LastError();
            return false;
        }
        if (written == 0) {
            error = std::make_error_code(std::errc::io_error);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

class CHandleReader : public CByteReader {
public:
    CHandleReader(HANDLE handle, bool owned, std::uint64_t sizeHint)
        : m_hFile(handle), m_bOwned(owned), m_nSizeHint(sizeHint) {}
    ~CHandleReader() override {
        if (m_bOwned) {
            ::CloseHandle(m_hFile);
        }
    }
    bool Read(char* buffer, std::size_t size, std::size_t& received,
              std::error_code& error) override {
        received = 0;
        const DWORD chunk = size < IO_CHUNK ? static_cast<DWORD>(size) : IO_CHUNK;
        DWORD got = 0;
        if (!::ReadFile(m_hFile, buffer, chunk, &got, nullptr)) {
            const DWORD code = ::GetLastError();
            // A pipe whose writer has gone has simply ended.
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) {
                return true;
            }
            error = FromWin32(code);
            return false;
        }
        received = got;
        return true;
    }
    std::uint64_t SizeHint() const override { return m_nSizeHint; }

private:
    HANDLE m_hFile;
    bool m_bOwned;
    std::uint64_t m_nSizeHint;
};

class CHandleWriter : public CByteWriter {
public:
    explicit CHandleWriter(HANDLE handle) : m_hFile(handle) {}
    bool Write(const char* data, std::size_t size, std::error_code& error) override {
        return WriteAll(m_hFile, data, size, error);
    }

private:
    HANDLE m_hFile;
};

// A device or pipe written as it stands.
class CInPlaceOutput : public COutput {
public:
    explicit CInPlaceOutput(HANDLE handle) : m_hFile(handle) {}
    ~CInPlaceOutput() override { ::CloseHandle(m_hFile); }
    bool Write(const char* data, std::size_t size, std::error_code& error) override {
        return WriteAll(m_hFile, data, size, error);
    }
    bool Commit(std::error_code& error) override {
        error.clear();
        return true;
    }

private:
    HANDLE m_hFile;
};

class CWin32AtomicFile : public CAtomicFile {
public:
    // attributes: those of the file being replaced that the new one keeps; 0 for none.
    CWin32AtomicFile(HANDLE handle, std::wstring tempPath, std::wstring path, DWORD attributes)
        : m_hFile(handle), m_strTempPath(std::move(tempPath)), m_strPath(std::move(path)),
          m_nAttributes(attributes) {}
    ~CWin32AtomicFile() override {
        if (m_hFile != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_hFile);
        }
        if (!m_bCommitted) {
            ::DeleteFileW(m_strTempPath.c_str());
        }
    }
    bool Write(const char* data, std::size_t size, std::error_code& error) override {
        return m_hFile != INVALID_HANDLE_VALUE && WriteAll(m_hFile, data, size, error);
    }
    bool Commit(std::error_code& error) override {
        if (m_hFile == INVALID_HANDLE_VALUE) {
            error = std::make_error_code(std::errc::bad_file_descriptor);
            return false;
        }
        bool ok = ::FlushFileBuffers(m_hFile) || (error = LastError(), false);
        const bool closed = ::CloseHandle(m_hFile) != FALSE;
        m_hFile = INVALID_HANDLE_VALUE;
        if (!closed && ok) {
            error = LastError();
            ok = false;
        }
        if (!ok || !Replace(error)) {
            return false;
        }
        m_bCommitted = true;
        error.clear();
        return true;
    }

private:
    // A rename over the target, atomic on NTFS and flushed before it returns. ReplaceFileW
    // would also carry the old file's access rights over, but where it fails part-way it
    // can leave the target under a backup name or a stray file behind; a save that keeps the
    // folder's rights is the lesser surprise. The old file's attributes go to the new one.
    bool Replace(std::error_code& error) {
        if (m_nAttributes != 0) {
            ::SetFileAttributesW(m_strTempPath.c_str(), m_nAttributes);
        }
        if (::MoveFileExW(m_strTempPath.c_str(), m_strPath.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        error = LastError();
        return false;
    }

    HANDLE m_hFile;
    std::wstring m_strTempPath;
    std::wstring m_strPath;
    DWORD m_nAttributes;
    bool m_bCommitted = false;
};

// A save through a symbolic link replaces the file it points to, not the link.
std::wstring ResolveLink(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return path;
    }
    const HANDLE handle =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return path;
    }
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, resolved.data(),
                                               static_cast<DWORD>(resolved.size()), 0);
    if (length >= resolved.size()) {
        resolved.resize(length);
        length = ::GetFinalPathNameByHandleW(handle, resolved.data(),
                                             static_cast<DWORD>(resolved.size()), 0);
    }
    ::CloseHandle(handle);
    if (length == 0 || length >= resolved.size()) {
        return path;
    }
    resolved.resize(length);
    return resolved;
}

} // namespace

std::string FileNameOfPath(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '\\' || c == '/' || (c == ':' && i == 1)) {
            start = i + 1;
        } else if (::IsDBCSLeadByteEx(NAME_CODE_PAGE, static_cast<BYTE>(c))) {
            ++i;
        }
    }
    return path.substr(start);
}

NodeKind ClassifyPath(const std::string& path) {
    std::wstring wide;
    std::error_code ignored;
    if (!ToWide(path, wide, ignored)) {
        return NodeKind::Missing;
    }
    return Classify(wide);
}

std::unique_ptr<CByteReader> OpenForReading(const std::string& path, bool regularOnly,
                                            bool& notAFile, std::error_code& error) {
    notAFile = false;
    if (!regularOnly && path == "-") {
        return StandardInput();
    }
    std::wstring wide;
    if (!ToWide(path, wide, error)) {
        return nullptr;
    }
    const NodeKind kind = Classify(wide);
    if (kind == NodeKind::Directory) {
        notAFile = regularOnly;
        error = std::make_error_code(std::errc::is_a_directory);
        return nullptr;
    }
    if (regularOnly && (kind == NodeKind::Device || kind == NodeKind::Other)) {
        notAFile = true;
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = PathError(wide, ::GetLastError());
        return nullptr;
    }
    // Checked again on the handle in case the name changed meanwhile.
    const bool disk = ::GetFileType(handle) == FILE_TYPE_DISK;
    if (regularOnly && !disk) {
        ::CloseHandle(handle);
        notAFile = true;
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    LARGE_INTEGER size{};
    const std::uint64_t sizeHint =
        disk && ::GetFileSizeEx(handle, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    return std::make_unique<CHandleReader>(handle, true, sizeHint);
}

std::unique_ptr<COutput> OpenInPlace(const std::string& path, std::error_code& error) {
    std::wstring wide;
    if (!ToWide(path, wide, error)) {
        return nullptr;
    }
    // OPEN_EXISTING: the node is written as it stands, never made or emptied.
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = PathError(wide, ::GetLastError());
        return nullptr;
    }
    if (::GetFileType(handle) == FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    return std::make_unique<CInPlaceOutput>(handle);
}

// The standard handles are read and written directly, so no text-mode translation applies;
// the C streams are switched to binary too, for any output that goes through them.
std::unique_ptr<CByteReader> StandardInput() {
    ::_setmode(::_fileno(stdin), _O_BINARY);
    return std::make_unique<CHandleReader>(::GetStdHandle(STD_INPUT_HANDLE), false, 0);
}

std::unique_ptr<CByteWriter> StandardOutput() {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    return std::make_unique<CHandleWriter>(::GetStdHandle(STD_OUTPUT_HANDLE));
}

std::unique_ptr<CAtomicFile> CAtomicFile::Create(const std::string& requestedPath,
                                                 std::error_code& error, FileAccess access) {
    std::wstring requested;
    if (!ToWide(requestedPath, requested, error)) {
        return nullptr;
    }
    const std::wstring path = ResolveLink(requested);

    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    const bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (replacing && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = std::make_error_code(std::errc::is_a_directory);
        return nullptr;
    }
    if (replacing && (attributes & FILE_ATTRIBUTE_READONLY)) {
        error = std::make_error_code(std::errc::permission_denied);
        return nullptr;
    }

    const DWORD kept = replacing ? attributes & KEPT_ATTRIBUTES : 0;

    // A private file gets its own access list at once, so it is never readable by others;
    // the rename keeps it. Otherwise the file takes the folder's rights, as a new file does.
    win32::CPrivateSecurity privateSecurity(false);
    SECURITY_ATTRIBUTES* security = nullptr;
    if (access == FileAccess::OwnerOnly) {
        security = privateSecurity.Attributes();
        if (!security) {
            error = LastError();
            return nullptr;
        }
    }

    // The temporary name must fit in a directory entry even when the target's name nearly
    // fills one.
    const std::wstring stem = FileNameOf(path).substr(0, TEMP_STEM_MAX);
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L".%06x", static_cast<unsigned>(random() & 0xFFFFFF));
        std::wstring tempPath = FolderOf(path) + L"~" + stem + suffix;
        const HANDLE handle = ::CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, security,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return std::make_unique<CWin32AtomicFile>(handle, std::move(tempPath), path, kept);
        }
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            error = PathError(path, code);
            return nullptr;
        }
    }
    error = std::make_error_code(std::errc::file_exists);
    return nullptr;
}

bool CreatePrivateFolder(const std::string& path, std::error_code& error) {
    std::wstring wide;
    if (!ToWide(path, wide, error)) {
        return false;
    }
    while (wide.size() > 1 && IsSeparator(wide.back())) {
        wide.pop_back();
    }
    win32::CPrivateSecurity security(true);
    if (!security.Attributes()) {
        error = LastError();
        return false;
    }
    // Parents first, each made for the user alone when it is missing; the drive or share at
    // the root is never made.
    std::size_t start = 0;
    if (wide.rfind(L"\\\\", 0) == 0) {
        start = wide.find_first_of(L"\\/", 2); // past the server
    } else if (wide.size() >= 2 && wide[1] == L':') {
        start = 2;
    }
    for (std::size_t i = start == std::wstring::npos ? wide.size() : start + 1; i <= wide.size();
         ++i) {
        if (i < wide.size() && !IsSeparator(wide[i])) {
            continue;
        }
        const std::wstring part = wide.substr(0, i);
        if (part.empty() || IsSeparator(part.back()) ||
            ::GetFileAttributesW(part.c_str()) != INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        if (!::CreateDirectoryW(part.c_str(), security.Attributes()) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            error = PathError(part, ::GetLastError());
            return false;
        }
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = PathError(wide, ::GetLastError());
        return false;
    }
    // A link (junction) to a folder could lead anywhere: only a real folder will do.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = std::make_error_code(std::errc::not_a_directory);
        return false;
    }
    if (!win32::OwnedByCurrentUser(wide)) {
        error = std::make_error_code(std::errc::permission_denied);
        return false;
    }
    if (!win32::RestrictToCurrentUser(wide, true)) {
        error = LastError();
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path, std::error_code& error) {
    std::wstring wide;
    if (!ToWide(path, wide, error)) {
        return false;
    }
    if (!::DeleteFileW(wide.c_str())) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
            error = FromWin32(code);
            return false;
        }
    }
    return true;
}

bool IsWritable(const std::string& path) {
    std::wstring wide;
    std::error_code ignored;
    if (!ToWide(path, wide, ignored)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        return false;
    }
    // The rights of the file decide; opening it for writing changes nothing in it. A file
    // that another program has open is still writable once it lets go.
    const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_SHARING_VIOLATION;
    }
    ::CloseHandle(handle);
    return true;
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

} // namespace kltio
