#pragma once

#include <string>

// Other programs that use a serial device. Terminal programs announce their use with a UUCP
// lock file (LCK..ttyUSB0 in the lock folder, holding the owner's process id as ASCII);
// loggers and scripts often take no lock at all, so their open descriptors are looked for
// too. Both checks are best-effort: what cannot be inspected does not count as a user.
namespace portusers {

// The lock folder of the usual terminal programs.
inline constexpr char DEFAULT_LOCK_FOLDER[] = "/var/lock";

// The lock file of a device path: LCK.. followed by the device's file name.
std::string LockFilePath(const std::string& lockFolder, const std::string& devicePath);

// The process id a lock file holds, or 0 when it holds none (missing, unreadable, garbled).
pid_t LockOwner(const std::string& lockPath);

// True when a process other than this one holds a live lock on the device; a lock of a
// process that has ended is stale and does not count.
bool LockedByOtherProcess(const std::string& lockFolder, const std::string& devicePath);

// True when a process other than this one has the character device at devicePath open. One
// pass over /proc; processes whose descriptors cannot be read are skipped.
bool OpenByOtherProcess(const std::string& devicePath);

// This process's lock on a device, held from a successful Acquire until destruction, which
// removes the file if it still names this process. Where the lock folder cannot be written
// no lock is taken and the port is used without one.
class CUucpLock {
public:
    CUucpLock() = default;
    ~CUucpLock();
    CUucpLock(const CUucpLock&) = delete;
    CUucpLock& operator=(const CUucpLock&) = delete;

    // False only when another live process holds the lock.
    bool Acquire(const std::string& lockFolder, const std::string& devicePath);

    const std::string& Path() const { return m_strPath; } // empty while no lock is held

private:
    std::string m_strPath;
};

} // namespace portusers
