#include "core/io/FileIO.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kltio {
namespace {

constexpr std::size_t TEMP_STEM_MAX = 200;

std::error_code LastError() {
    return {errno, std::generic_category()};
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A save through a symbolic link replaces the file it points to, not the link.
std::string ResolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

bool WriteAll(int fd, const char* data, std::size_t size, std::error_code& error) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = LastError();
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

class CDescriptorReader : public CByteReader {
public:
    CDescriptorReader(int fd, bool owned, std::uint64_t sizeHint)
        : m_fd(fd), m_bOwned(owned), m_nSizeHint(sizeHint) {}
    ~CDescriptorReader() override {
        if (m_bOwned) {
            ::close(m_fd);
        }
    }
    bool Read(char* buffer, std::size_t size, std::size_t& received,
              std::error_code& error) override {
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, size);
            if (got >= 0) {
                received = static_cast<std::size_t>(got);
                return true;
            }
            if (errno != EINTR) {
                received = 0;
                error = LastError();
                return false;
            }
        }
    }
    std::uint64_t SizeHint() const override { return m_nSizeHint; }

private:
    int m_fd;
    bool m_bOwned;
    std::uint64_t m_nSizeHint;
};

class CDescriptorWriter : public CByteWriter {
public:
    explicit CDescriptorWriter(int fd) : m_fd(fd) {}
    bool Write(const char* data, std::size_t size, std::error_code& error) override {
        return WriteAll(m_fd, data, size, error);
    }

private:
    int m_fd;
};

// A device or FIFO written as it stands.
class CInPlaceOutput : public COutput {
public:
    explicit CInPlaceOutput(int fd) : m_fd(fd) {}
    ~CInPlaceOutput() override { ::close(m_fd); }
    bool Write(const char* data, std::size_t size, std::error_code& error) override {
        return WriteAll(m_fd, data, size, error);
    }
    bool Commit(std::error_code& error) override {
        error.clear();
        return true;
    }

private:
    int m_fd;
};

class CPosixAtomicFile : public CAtomicFile {
public:
    CPosixAtomicFile(int fd, std::string tempPath, std::string path)
        : m_fd(fd), m_strTempPath(std::move(tempPath)), m_strPath(std::move(path)) {}
    ~CPosixAtomicFile() override {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_bCommitted) {
            ::unlink(m_strTempPath.c_str());
        }
    }
    bool Write(const char* data, std::size_t size, std::error_code& error) override {
        return m_fd >= 0 && WriteAll(m_fd, data, size, error);
    }
    bool Commit(std::error_code& error) override {
        if (m_fd < 0) {
            error = std::make_error_code(std::errc::bad_file_descriptor);
            return false;
        }
        bool ok = ::fsync(m_fd) == 0 || (error = LastError(), false);
        const int closed = ::close(m_fd);
        m_fd = -1;
        if (closed != 0 && ok) {
            error = LastError();
            ok = false;
        }
        ok = ok && (::rename(m_strTempPath.c_str(), m_strPath.c_str()) == 0 ||
                    (error = LastError(), false));
        if (!ok) {
            return false;
        }
        m_bCommitted = true;
        // Make the rename itself durable.
        const int dirFd =
            ::open(DirectoryOf(m_strPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
        error.clear();
        return true;
    }

private:
    int m_fd;
    std::string m_strTempPath;
    std::string m_strPath;
    bool m_bCommitted = false;
};

} // namespace

std::string FileNameOfPath(const std::string& path) {
    return FileNameOf(path);
}

NodeKind ClassifyPath(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return NodeKind::Missing;
    }
    if (S_ISREG(info.st_mode)) {
        return NodeKind::Regular;
    }
    if (S_ISDIR(info.st_mode)) {
        return NodeKind::Directory;
    }
    return S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? NodeKind::Device : NodeKind::Other;
}

std::unique_ptr<CByteReader> OpenForReading(const std::string& path, bool regularOnly,
                                            bool& notAFile, std::error_code& error) {
    notAFile = false;
    if (!regularOnly && path == "-") {
        return StandardInput();
    }
    struct stat info {};
    if (regularOnly) {
        if (::stat(path.c_str(), &info) != 0) {
            error = LastError();
            return nullptr;
        }
        if (!S_ISREG(info.st_mode)) {
            notAFile = true;
            error = std::make_error_code(std::errc::invalid_argument);
            return nullptr;
        }
    }
    // Non-blocking for the open only, and checked again in case the name changed meanwhile.
    const int flags = O_RDONLY | O_NOCTTY | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        error = LastError();
        return nullptr;
    }
    if (::fstat(fd, &info) != 0) {
        error = LastError();
        ::close(fd);
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        error = std::make_error_code(std::errc::is_a_directory);
        notAFile = regularOnly;
        return nullptr;
    }
    if (regularOnly && !S_ISREG(info.st_mode)) {
        ::close(fd);
        notAFile = true;
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    if (regularOnly) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    const std::uint64_t sizeHint =
        S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    return std::make_unique<CDescriptorReader>(fd, true, sizeHint);
}

std::unique_ptr<COutput> OpenInPlace(const std::string& path, std::error_code& error) {
    // No O_CREAT or O_TRUNC: the node is written as it stands, never made or emptied.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = LastError();
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) {
        error = std::make_error_code(std::errc::invalid_argument);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<CInPlaceOutput>(fd);
}

std::unique_ptr<CByteReader> StandardInput() {
    return std::make_unique<CDescriptorReader>(STDIN_FILENO, false, 0);
}

std::unique_ptr<CByteWriter> StandardOutput() {
    return std::make_unique<CDescriptorWriter>(STDOUT_FILENO);
}

std::unique_ptr<CAtomicFile> CAtomicFile::Create(const std::string& requestedPath,
                                                 std::error_code& error, FileAccess access) {
    const std::string path = ResolveLink(requestedPath);
    const std::string directory = DirectoryOf(path);

    struct stat existing {};
    const bool replacing = ::stat(path.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) {
        error = std::make_error_code(std::errc::is_a_directory);
        return nullptr;
    }
    // The rename would replace a write-protected file as easily as any other; refuse as
    // writing into it would.
    if (replacing && ::access(path.c_str(), W_OK) != 0) {
        error = LastError();
        return nullptr;
    }

    // The temporary name must fit in a directory entry even when the target's name nearly
    // fills one.
    const std::string tempStem = FileNameOf(path).substr(0, TEMP_STEM_MAX);
    std::string tempPath = directory + "/." + tempStem + ".XXXXXX";
    std::vector<char> tempName(tempPath.begin(), tempPath.end());
    tempName.push_back('\0');
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) {
        error = LastError();
        return nullptr;
    }
    auto file = std::make_unique<CPosixAtomicFile>(fd, tempName.data(), path);

    // mkstemp makes the file private; give it the old file's mode, or the usual one.
    mode_t mode = 0666;
    if (access == FileAccess::OwnerOnly) {
        mode = 0600;
    } else if (replacing) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    if (::fchmod(fd, mode) != 0) {
        error = LastError();
        return nullptr;
    }
    return file;
}

bool CreatePrivateFolder(const std::string& path, std::error_code& error) {
    if (path.empty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    // Parents first, each made for the user alone when it is missing.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
            error = LastError();
            return false;
        }
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = LastError();
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        error = LastError();
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = std::make_error_code(std::errc::not_a_directory);
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = std::make_error_code(std::errc::permission_denied);
        return false;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        error = LastError();
        return false;
    }
    return true;
}

bool RemoveFile(const std::string& path, std::error_code& error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = LastError();
        return false;
    }
    return true;
}

bool IsWritable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
           ::access(path.c_str(), W_OK) == 0;
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace kltio
