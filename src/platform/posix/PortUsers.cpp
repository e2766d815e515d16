#include "platform/posix/PortUsers.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portusers {
namespace {

// A lock file is "%10d\n"; anything much longer is not one.
constexpr std::size_t LOCK_FILE_MAX = 64;

bool ProcessIsAlive(pid_t pid) {
    // EPERM: it exists but belongs to another user.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool IsOtherLiveProcess(pid_t pid) {
    return pid > 0 && pid != ::getpid() && ProcessIsAlive(pid);
}

bool AllDigits(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

// Creates the lock file holding this process's id; false when it exists already.
bool CreateLockFile(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = errno;
        return false;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        error = EIO;
        return false;
    }
    return true;
}

} // namespace

std::string LockFilePath(const std::string& lockFolder, const std::string& devicePath) {
    const auto slash = devicePath.find_last_of('/');
    const std::string name = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
    return lockFolder + "/LCK.." + name;
}

pid_t LockOwner(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return 0;
    }
    char text[LOCK_FILE_MAX + 1];
    const ssize_t length = ::read(fd, text, LOCK_FILE_MAX);
    ::close(fd);
    if (length <= 0) {
        return 0;
    }
    text[length] = '\0';
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    while (end != nullptr && (*end == '\n' || *end == ' ' || *end == '\r')) {
        ++end;
    }
    if (end == text || end == nullptr || *end != '\0' || pid <= 0 || pid > 0x7FFFFFFF) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

bool LockedByOtherProcess(const std::string& lockFolder, const std::string& devicePath) {
    return IsOtherLiveProcess(LockOwner(LockFilePath(lockFolder, devicePath)));
}

bool OpenByOtherProcess(const std::string& devicePath) {
    // A descriptor's link names the device file it was opened by, with symbolic links
    // resolved; comparing names spares a stat of every descriptor.
    char resolved[PATH_MAX];
    struct stat device {};
    if (::realpath(devicePath.c_str(), resolved) == nullptr || ::stat(resolved, &device) != 0 ||
        !S_ISCHR(device.st_mode)) {
        return false;
    }
    const std::size_t resolvedLength = std::strlen(resolved);
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) {
        return false;
    }
    const std::string self = std::to_string(::getpid());
    std::string link;
    bool found = false;
    while (!found) {
        const dirent* process = ::readdir(processes);
        if (process == nullptr) {
            break;
        }
        if (!AllDigits(process->d_name) || self == process->d_name) {
            continue;
        }
        const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd/";
        DIR* descriptors = ::opendir(fdFolder.c_str());
        if (descriptors == nullptr) {
            continue; // another user's process, or one that has just ended
        }
        while (const dirent* entry = ::readdir(descriptors)) {
            if (!AllDigits(entry->d_name)) {
                continue;
            }
            link.assign(fdFolder).append(entry->d_name);
            char target[PATH_MAX];
            const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
            if (length != static_cast<ssize_t>(resolvedLength) ||
                std::memcmp(target, resolved, resolvedLength) != 0) {
                continue;
            }
            struct stat status {};
            if (::stat(link.c_str(), &status) == 0 && S_ISCHR(status.st_mode) &&
                status.st_rdev == device.st_rdev) {
                found = true;
                break;
            }
        }
        ::closedir(descriptors);
    }
    ::closedir(processes);
    return found;
}

CUucpLock::~CUucpLock() {
    if (!m_strPath.empty() && LockOwner(m_strPath) == ::getpid()) {
        ::unlink(m_strPath.c_str());
    }
}

bool CUucpLock::Acquire(const std::string& lockFolder, const std::string& devicePath) {
    const std::string path = LockFilePath(lockFolder, devicePath);
    for (int attempt = 0; attempt < 2; ++attempt) {
        int error = 0;
        if (CreateLockFile(path, error)) {
            m_strPath = path;
            return true;
        }
        if (error != EEXIST) {
            return true; // no writable lock folder: go on without a lock
        }
        const pid_t owner = LockOwner(path);
        if (IsOtherLiveProcess(owner)) {
            return false;
        }
        // Stale, garbled or our own: replace it.
        ::unlink(path.c_str());
    }
    return true;
}

} // namespace portusers
