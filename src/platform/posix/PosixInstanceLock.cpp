#include "core/io/InstanceLock.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kltio {
namespace {

class CPosixInstanceLock : public CInstanceLock {
public:
    explicit CPosixInstanceLock(int fd) : m_fd(fd) {}
    ~CPosixInstanceLock() override { ::close(m_fd); } // releases the lock

private:
    int m_fd;
};

} // namespace

bool IsPrivateFolder(const std::string& path, bool create) {
    if (path.empty()) {
        return false;
    }
    if (create) {
        ::mkdir(path.c_str(), 0700);
    }
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 0077) == 0;
}

std::string FallbackPrivateFolder() {
    std::error_code error;
    std::string temp = std::filesystem::temp_directory_path(error).string();
    if (error || temp.empty()) {
        temp = "/tmp";
    }
    return temp + "/klt-" + std::to_string(::geteuid());
}

std::unique_ptr<CInstanceLock> CInstanceLock::TryAcquire(const std::string& path, Result& result) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        result = Result::Failed;
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result = errno == EWOULDBLOCK ? Result::HeldByOther : Result::Failed;
        ::close(fd);
        return nullptr;
    }
    result = Result::Acquired;
    return std::make_unique<CPosixInstanceLock>(fd);
}

} // namespace kltio
