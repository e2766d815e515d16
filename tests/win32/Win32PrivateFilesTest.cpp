// What the app keeps for the user alone, and the other services the Windows platform layer
// gives the app and klt-capture: private folders and files, the single-instance lock, the
// write check, requests to end and the port list.
#include "core/app/TerminationWatch.h"
#include "core/document/KLTDoc.h"
#include "core/document/RecoveryFile.h"
#include "core/io/FileIO.h"
#include "core/io/InstanceLock.h"
#include "core/reception/SystemPorts.h"
#include "platform/win32/Win32Security.h"

#include "common/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <regex>

namespace {

bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring Wide(const std::string& path) {
    return std::filesystem::path(path).wstring();
}

class Win32Private : public TempFolderTest {};

// The recovery file and its folders (missing parents too) are made with an access list that
// grants the user alone; an older file that others could read is replaced by a private one.
TEST_F(Win32Private, RecoveryFileAndItsFoldersAreTheUsersAlone) {
    const std::string shared = PathOf("shared.txt");
    WriteFile(shared, "old");
    ASSERT_FALSE(win32::ClosedToOtherUsers(Wide(shared)))
        << "a plain file in the temporary folder carries the folder's wider rights";

    CKLTDoc doc;
    doc.AppendText("LINE 1\r\nPARTIAL");
    const std::string folder = PathOf("state\\klt");
    const CRecoveryFile recovery(folder);
    std::error_code error;
    ASSERT_TRUE(recovery.Write(doc, error)) << error.message();
    EXPECT_TRUE(win32::ClosedToOtherUsers(Wide(recovery.Path())));
    EXPECT_TRUE(win32::ClosedToOtherUsers(Wide(folder)));
    EXPECT_TRUE(win32::ClosedToOtherUsers(Wide(PathOf("state"))));
    EXPECT_TRUE(win32::OwnedByCurrentUser(Wide(folder)));

    // Over a file with the usual rights: the private save replaces them.
    {
        const auto file = kltio::CAtomicFile::Create(shared, error, kltio::FileAccess::OwnerOnly);
        ASSERT_NE(file, nullptr) << error.message();
        ASSERT_TRUE(file->Write("new", 3, error));
        ASSERT_TRUE(file->Commit(error)) << error.message();
    }
    EXPECT_TRUE(win32::ClosedToOtherUsers(Wide(shared)));
    EXPECT_EQ(ReadFile(shared), "new");

    recovery.Remove();
    EXPECT_FALSE(recovery.Exists());
    EXPECT_TRUE(kltio::RemoveFile(recovery.Path(), error)) << "nothing there: no error";
    EXPECT_TRUE(kltio::RemoveFile(PathOf("no-folder\\x.txt"), error));

    // A file where a folder should be.
    EXPECT_FALSE(kltio::CreatePrivateFolder(PathOf("shared.txt\\klt"), error));
    EXPECT_EQ(error, std::errc::not_a_directory);
    EXPECT_FALSE(kltio::CreatePrivateFolder(shared, error));
    EXPECT_EQ(error, std::errc::not_a_directory);
}

// Whether a document's file can be saved in place, or needs the save-as dialog.
TEST_F(Win32Private, WritableMeansAnExistingFileThatIsNotReadOnly) {
    WriteFile(PathOf("plain.txt"), "x");
    WriteFile(PathOf("locked.txt"), "x");
    ASSERT_TRUE(::SetFileAttributesW(Wide(PathOf("locked.txt")).c_str(), FILE_ATTRIBUTE_READONLY));
    const struct {
        std::string path;
        bool writable;
    } cases[] = {
        {PathOf("plain.txt"), true},    {PathOf("locked.txt"), false},
        {PathOf("missing.txt"), false}, {PathOf("missing\\x.txt"), false},
        {m_folder.string(), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kltio::IsWritable(c.path), c.writable) << c.path;
    }
    ::SetFileAttributesW(Wide(PathOf("locked.txt")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// One copy of the app: the lock file opened with no sharing keeps every other open out until
// it is closed. The fallback folder is made private.
TEST_F(Win32Private, InstanceLockIsHeldUntilReleased) {
    const std::string folder = PathOf("run");
    EXPECT_FALSE(kltio::IsPrivateFolder(folder, false)) << "missing";
    ASSERT_TRUE(kltio::IsPrivateFolder(folder, true));
    const std::string lockPath = folder + "\\klt-test.lock";

    using Result = kltio::CInstanceLock::Result;
    Result result = Result::Failed;
    auto first = kltio::CInstanceLock::TryAcquire(lockPath, result);
    ASSERT_EQ(result, Result::Acquired);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(kltio::CInstanceLock::TryAcquire(lockPath, result), nullptr);
    EXPECT_EQ(result, Result::HeldByOther);
    first.reset();
    EXPECT_NE(kltio::CInstanceLock::TryAcquire(lockPath, result), nullptr);
    EXPECT_EQ(result, Result::Acquired);

    EXPECT_EQ(kltio::CInstanceLock::TryAcquire(folder, result), nullptr) << "a folder";
    EXPECT_EQ(result, Result::Failed);

    const std::string fallback = kltio::FallbackPrivateFolder();
    EXPECT_NE(fallback.find("klt-S-1-"), std::string::npos) << fallback;
}

// Ctrl+C in the console reaches the callback as SIGINT, on the watch's thread, and the
// process goes on. Closing the console, logoff and shutdown (SIGTERM) cannot be sent to a
// process from inside it.
TEST(Win32TerminationWatch, CtrlCIsReportedAndTheProcessGoesOn) {
    std::mutex lock;
    std::condition_variable reported;
    int number = 0;
    DWORD thread = 0;
    auto watch = kltapp::WatchTermination([&](int request) {
        const std::lock_guard<std::mutex> guard(lock);
        number = request;
        thread = ::GetCurrentThreadId();
        reported.notify_one();
    });
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(kltapp::WatchTermination([](int) {}), nullptr) << "one watch at a time";

    // Started with its output in pipes (as CTest starts it), the test may have no console
    // that takes the event; then it makes one of its own to send it in.
    if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) &&
        !(::FreeConsole(), ::AllocConsole() && ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))) {
        GTEST_SKIP() << "no console to send Ctrl+C in (error " << ::GetLastError() << ")";
    }
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(reported.wait_for(guard, std::chrono::seconds(10), [&] { return number != 0; }));
    EXPECT_EQ(number, SIGINT);
    EXPECT_NE(thread, ::GetCurrentThreadId());
    guard.unlock();
    watch.reset();
    EXPECT_NE(kltapp::WatchTermination([](int) {}), nullptr) << "a new watch once it is gone";
}

// The ports of the "Ports" device class, by the name their driver registered. Wine has no
// such devices, so there the list is empty and only its shape is checked.
TEST(Win32SystemPorts, ListedPortsHaveTheirDriversNames) {
    const std::vector<EnumeratedPort> ports = EnumerateSystemPorts();
    const std::regex portName("(COM|LPT)[0-9]+");
    for (const EnumeratedPort& port : ports) {
        EXPECT_TRUE(std::regex_match(port.portName, portName)) << port.portName;
        EXPECT_FALSE(port.isVirtual);
    }
    std::printf("%zu ports listed%s\n", ports.size(), UnderWine() ? " under Wine" : "");
}

} // namespace
