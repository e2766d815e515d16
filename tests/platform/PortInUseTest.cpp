// Ports that another program uses, or that are gone: UUCP lock files, descriptors held by
// programs that take no lock, vanished devices. On real pseudo-terminals and real processes.
#include "PseudoTerminal.h"
#include "common/OtherProcess.h"
#include "common/TempFolder.h"
#include "core/reception/ComAPI.h"
#include "platform/posix/PortUsers.h"
#include "platform/posix/PosixSerialDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The id of a process that has ended.
pid_t DeadProcessId() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

std::string LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

class PortInUse : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_TRUE(pty.IsValid());
        lockFolder = m_folder.string();
        lockPath = portusers::LockFilePath(lockFolder, pty.SlavePath());
    }

    std::unique_ptr<CPosixSerialDevice> Open() {
        errno = 0;
        return CPosixSerialDevice::Open(pty.SlavePath().c_str(), lockFolder);
    }

    PseudoTerminal pty;
    std::string lockFolder;
    std::string lockPath;
};

TEST_F(PortInUse, LockFileIsNamedAfterTheDevice) {
    EXPECT_EQ(portusers::LockFilePath("/var/lock", "/dev/ttyUSB0"), "/var/lock/LCK..ttyUSB0");
    EXPECT_EQ(lockPath,
              lockFolder + "/LCK.." + pty.SlavePath().substr(pty.SlavePath().rfind('/') + 1));
}

TEST_F(PortInUse, ProgramHoldingThePortWithoutALockIsFound) {
    OtherProcess logger(pty.SlavePath());
    ASSERT_TRUE(logger.Ready());
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(errno, EBUSY);
    CComAPI link;
    EXPECT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 0);
    // The refused open left no lock of ours behind.
    EXPECT_EQ(Listing(), "");

    logger.End();
    EXPECT_NE(Open(), nullptr);
    EXPECT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
}

TEST_F(PortInUse, LiveLocksRefuseThePortAndStaleOrGarbledOnesAreReplaced) {
    OtherProcess owner;
    ASSERT_TRUE(owner.Ready());
    struct Case {
        const char* what;
        std::string lockText;
        bool opens;
    };
    const Case cases[] = {
        {"live owner", LockText(owner.Pid()), false},
        {"live owner, no padding", std::to_string(owner.Pid()) + "\n", false},
        {"dead owner", LockText(DeadProcessId()), true},
        {"garbled", "not a pid\n", true},
        {"empty", "", true},
    };
    for (const Case& c : cases) {
        WriteFile(lockPath, c.lockText);
        auto device = Open();
        EXPECT_EQ(device != nullptr, c.opens) << c.what;
        if (device) {
            // Ours while we hold the port, in the usual format, readable by the others.
            EXPECT_EQ(ReadFile(lockPath), LockText(::getpid())) << c.what;
            struct stat status {};
            ASSERT_EQ(::stat(lockPath.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0644u) << c.what;
            device.reset();
            EXPECT_EQ(Listing(), "") << c.what;
        } else {
            EXPECT_EQ(errno, EBUSY) << c.what;
            EXPECT_EQ(ReadFile(lockPath), c.lockText) << c.what;
        }
    }
}

TEST_F(PortInUse, OurLockStopsAnotherProcessAndIsRemovedOnClose) {
    auto device = Open();
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(portusers::LockedByOtherProcess(lockFolder, pty.SlavePath()) == false);
    const pid_t child = ::fork();
    if (child == 0) {
        // Another process sees a live lock and a descriptor of ours.
        const bool locked = portusers::LockedByOtherProcess(lockFolder, pty.SlavePath());
        const bool open = portusers::OpenByOtherProcess(pty.SlavePath());
        ::_exit(locked && open ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    device.reset();
    EXPECT_EQ(Listing(), "");
}

TEST_F(PortInUse, UnwritableLockFolderDoesNotStopTheOpen) {
    lockFolder = PathOf("missing");
    auto device = Open();
    EXPECT_NE(device, nullptr);
}

TEST_F(PortInUse, VanishedDeviceIsReportedAsMissing) {
    const std::string path = pty.SlavePath();
    pty.CloseMaster(); // the pseudo-terminal's slave goes with its master, as an unplugged adapter
                       // does
    errno = 0;
    EXPECT_EQ(CPosixSerialDevice::OpenExclusive(path.c_str(), lockFolder), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(CPosixSerialDevice::OpenExclusive("/dev/ttyKLTNoSuchPort", lockFolder), -1);
    EXPECT_EQ(errno, ENOENT);
}

} // namespace
