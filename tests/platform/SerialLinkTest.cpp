#include "PseudoTerminal.h"
#include "core/reception/ComAPI.h"
#include "core/reception/SerialDevice.h"
#include "platform/posix/PosixSerialDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.IsValid());
        observer = pty.OpenObserver();
        ASSERT_GE(observer, 0);
    }

    // One read through the link; the result and the decoded bytes.
    std::pair<int, Bytes> Read() {
        Bytes out(CComAPI::DECODED_BUFFER_SIZE, 0xEE);
        std::size_t length = 12345;
        const int result = link.ReadAndDecode(out.data(), length);
        out.resize(length);
        return {result, out};
    }

    // Sends bytes from the machine's end and waits until they wait in the port.
    void Arrive(const Bytes& bytes) {
        pty.Write(bytes);
        ASSERT_TRUE(pty.WaitForInput(bytes.size()));
    }

    PseudoTerminal pty;
    int observer = -1;
    CComAPI link;
};

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Opens the port in a child process; its exit status is OpenAndDrain's result.
int OpenInOtherProcess(const std::string& portName) {
    const pid_t child = ::fork();
    if (child == 0) {
        CComAPI other;
        ::_exit(other.OpenAndDrain(portName.c_str()));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SerialLink, OpensByNameOrPathAndReadsWhatArrives) {
    for (const std::string& name : {pty.PortName(), pty.SlavePath()}) {
        ASSERT_EQ(link.OpenAndDrain(name.c_str()), 1) << name;
        EXPECT_TRUE(link.IsOpen());
        Arrive(ToBytes("AB\r"));
        EXPECT_EQ(Read(), std::make_pair(1, ToBytes("AB\r\n"))) << name;
        link.ClosePort();
        EXPECT_FALSE(link.IsOpen());
    }
}

TEST_F(SerialLink, AppliesTheMachineLineSettingsInRawMode) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    // Read back through our own descriptor, which had set unusual attributes before.
    termios attributes{};
    ASSERT_EQ(::tcgetattr(observer, &attributes), 0);
    EXPECT_EQ(::cfgetispeed(&attributes), B2400);
    EXPECT_EQ(::cfgetospeed(&attributes), B2400);
    EXPECT_EQ(attributes.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(attributes.c_cflag & CSTOPB);
    EXPECT_TRUE(attributes.c_cflag & CREAD);
    EXPECT_TRUE(attributes.c_cflag & CLOCAL);
    // A pseudo-terminal does not keep PARENB; odd parity must not appear either way.
    EXPECT_FALSE(attributes.c_cflag & (PARODD | CRTSCTS));
    for (tcflag_t flag : {IXON, IXOFF, IXANY, ICRNL, INLCR, IGNCR, ISTRIP, INPCK, PARMRK, IGNPAR}) {
        EXPECT_FALSE(attributes.c_iflag & flag) << std::oct << flag;
    }
    EXPECT_FALSE(attributes.c_oflag & OPOST);
    EXPECT_FALSE(attributes.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_EQ(attributes.c_cc[VMIN], 0);
    EXPECT_EQ(attributes.c_cc[VTIME], 0);

    // What a real line gets, parity included.
    termios built{};
    ASSERT_TRUE(
        CPosixSerialDevice::BuildTermios({2400, 8, SerialLineSettings::Parity::Even, 2}, built));
    EXPECT_EQ(built.c_cflag & (PARENB | PARODD | CSTOPB | CSIZE | CRTSCTS),
              static_cast<tcflag_t>(PARENB | CSTOPB | CS8));
    EXPECT_EQ(built.c_iflag, 0u);
}

TEST_F(SerialLink, InputWaitingBeforeTheOpenIsThrownAwayWithoutTouchingTheDecoder) {
    // FS '&' would switch the decoder to kanji mode if the drain decoded it.
    Arrive(ToBytes("OLD TEXT\r\x1C&\x30"));
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    EXPECT_EQ(Read(), std::make_pair(0, Bytes{}));
    EXPECT_EQ(link.DecodeMode(), CComAPI::DECODE_TEXT);
    Arrive(ToBytes("NEW\r"));
    EXPECT_EQ(Read(), std::make_pair(1, ToBytes("NEW\r\n")));
}

TEST_F(SerialLink, ReadWithNothingWaitingReturnsAtOnce) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(), std::make_pair(0, Bytes{}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(SerialLink, FullReadOfCarriageReturnsReportsAllDecodedBytes) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    Arrive(Bytes(513, 0x0D));
    const auto [result, out] = Read();
    EXPECT_EQ(result, 1);
    ASSERT_EQ(out.size(), CComAPI::DECODED_BUFFER_SIZE);
    for (std::size_t i = 0; i < out.size(); i += 2) {
        ASSERT_EQ(out[i], 0x0D) << i;
        ASSERT_EQ(out[i + 1], 0x0A) << i;
    }
    // A read takes at most 512 bytes; the rest comes with the next one.
    EXPECT_EQ(Read(), std::make_pair(1, Bytes{0x0D, 0x0A}));
}

TEST_F(SerialLink, ReadThatDecodesToNothingStillCountsAsInput) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    Arrive({0x1C, '&'});
    EXPECT_EQ(Read(), std::make_pair(1, Bytes{}));
    // Zero bytes are delivered and decoded like any other text byte.
    Arrive({0x1C, '.', 'A', 0x00, 'B'});
    EXPECT_EQ(Read(), std::make_pair(1, Bytes{'A', 0x00, 'B'}));
}

TEST_F(SerialLink, KanjiPairSplitAcrossReadsDecodesAndCloseResetsTheDecoder) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    Arrive({0x1C, '&', 0x30});
    EXPECT_EQ(Read(), std::make_pair(1, Bytes{}));
    Arrive({0x21, 0x30});
    EXPECT_EQ(Read(), std::make_pair(1, Bytes{0x88, 0x9F}));
    EXPECT_EQ(link.DecodeMode(), CComAPI::DECODE_KANJI);
    EXPECT_EQ(link.JisHigh(), 0x30);

    link.ClosePort();
    EXPECT_EQ(link.DecodeMode(), CComAPI::DECODE_TEXT);
    EXPECT_EQ(link.JisHigh(), 0);
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    Arrive(ToBytes("A\r"));
    EXPECT_EQ(Read(), std::make_pair(1, ToBytes("A\r\n")));
}

TEST_F(SerialLink, ClosingWithoutAPortOnlyResetsTheDecoder) {
    std::uint8_t out[2];
    link.DecodeBytes(Bytes{0x1C, '&', 0x30}.data(), 3, out);
    link.ClosePort();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.DecodeMode(), CComAPI::DECODE_TEXT);
    EXPECT_EQ(link.JisHigh(), 0);
    EXPECT_EQ(Read(), std::make_pair(0, Bytes{}));
}

TEST_F(SerialLink, PortInUseCannotBeOpenedAgainUntilClosed) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    CComAPI second;
    EXPECT_EQ(second.OpenAndDrain(pty.PortName().c_str()), 0);
    EXPECT_EQ(second.OpenAndDrain(pty.SlavePath().c_str()), 0);
    EXPECT_EQ(second.LastOpenError(), SerialOpenError::Busy);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.OpenAndDrain("pts/999999"), 0);
    EXPECT_EQ(second.LastOpenError(), SerialOpenError::Missing);

    // The refused opens did not disturb the owner.
    Arrive(ToBytes("X\r"));
    EXPECT_EQ(Read(), std::make_pair(1, ToBytes("X\r\n")));

    // Our observer would count as another program using the port.
    pty.CloseObserver();
    EXPECT_EQ(OpenInOtherProcess(pty.PortName()), 0);

    link.ClosePort();
    EXPECT_EQ(OpenInOtherProcess(pty.PortName()), 1);
    EXPECT_EQ(second.OpenAndDrain(pty.PortName().c_str()), 1);
    EXPECT_EQ(second.LastOpenError(), SerialOpenError::None);
    second.ClosePort();
}

TEST_F(SerialLink, ClosedPortCanBeOpenedAgainByAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a child as another user";
    }
    // Exclusive use must end with the close; a pseudo-terminal otherwise keeps refusing
    // everyone but root.
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    link.ClosePort();
    pty.CloseObserver();
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        CComAPI other;
        ::_exit(other.OpenAndDrain(pty.PortName().c_str()));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST_F(SerialLink, OtherEndVanishingMidStreamIsALostLineNotSilence) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    Arrive(ToBytes("AB\r"));
    EXPECT_EQ(Read(), std::make_pair(1, ToBytes("AB\r\n")));
    EXPECT_EQ(Read(), std::make_pair(0, Bytes{}));
    pty.CloseMaster();
    // Every later read says so; the port stays open until the caller closes it.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Read(), std::make_pair(CComAPI::READ_LINE_LOST, Bytes{}));
    }
    EXPECT_TRUE(link.IsOpen());
    link.ClosePort();
    EXPECT_FALSE(link.IsOpen());
}

// The reader's wait on a quiet port. Each wait below would run for 10 s if what should end
// it did not; TimedOut then shows the fault.
constexpr int LONG_WAIT_MS = 10000;

// Runs link.WaitForInput(LONG_WAIT_MS) on a thread of its own, as the reader does.
class Waiter {
public:
    explicit Waiter(CComAPI& link)
        : m_thread([this, &link] {
              m_result = link.WaitForInput(LONG_WAIT_MS);
              m_done = true;
          }) {}
    ~Waiter() { Join(); }
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool Done() const { return m_done; }
    SerialWait Result() {
        Join();
        return m_result;
    }

private:
    std::atomic<bool> m_done{false};
    SerialWait m_result = SerialWait::TimedOut;
    std::thread m_thread;
};

TEST_F(SerialLink, WaitOnAQuietPortSleepsUntilAByteArrivesWhichIsThenRead) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    EXPECT_EQ(link.WaitForInput(50), SerialWait::TimedOut);
    Waiter waiter(link);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(waiter.Done());
    pty.Write(ToBytes("A"));
    EXPECT_EQ(waiter.Result(), SerialWait::Input);
    EXPECT_EQ(Read(), std::make_pair(1, ToBytes("A")));
    // Read, the byte no longer ends a wait; one waiting unread does, at once.
    EXPECT_EQ(link.WaitForInput(50), SerialWait::TimedOut);
    Arrive(ToBytes("B"));
    EXPECT_EQ(link.WaitForInput(LONG_WAIT_MS), SerialWait::Input);
    EXPECT_EQ(link.WaitForInput(LONG_WAIT_MS), SerialWait::Input);
    EXPECT_EQ(Read(), std::make_pair(1, ToBytes("B")));
}

TEST_F(SerialLink, CancelEndsTheWaitAtOnceOrElseTheNextOneOnly) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    {
        Waiter waiter(link);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(waiter.Done());
        link.CancelWait();
        EXPECT_EQ(waiter.Result(), SerialWait::Cancelled);
    }
    // Cancels made while no wait runs (the reader pacing its reads) end the next wait, so a
    // stop is never missed, and are then used up.
    link.CancelWait();
    link.CancelWait();
    EXPECT_EQ(link.WaitForInput(LONG_WAIT_MS), SerialWait::Cancelled);
    EXPECT_EQ(link.WaitForInput(50), SerialWait::TimedOut);
    // Without a port there is nothing to wait for: a read says so.
    link.ClosePort();
    link.CancelWait();
    EXPECT_EQ(link.WaitForInput(LONG_WAIT_MS), SerialWait::Input);
    EXPECT_EQ(Read(), std::make_pair(0, Bytes{}));
}

TEST_F(SerialLink, OtherEndVanishingEndsTheWaitAsAHangUpAndTheReadSaysTheLineIsLost) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    Waiter waiter(link);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(waiter.Done());
    pty.CloseMaster();
    EXPECT_EQ(waiter.Result(), SerialWait::HungUp);
    EXPECT_EQ(link.WaitForInput(LONG_WAIT_MS), SerialWait::HungUp);
    EXPECT_EQ(Read(), std::make_pair(CComAPI::READ_LINE_LOST, Bytes{}));
}

TEST_F(SerialLink, NothingIsWrittenToThePort) {
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    Arrive(ToBytes("ECHO?\r\x1C&\x30\x21"));
    EXPECT_EQ(link.WaitForInput(0), SerialWait::Input);
    EXPECT_EQ(Read().first, 1);
    link.CancelWait();
    EXPECT_EQ(link.WaitForInput(0), SerialWait::Cancelled);
    EXPECT_EQ(pty.ReadWritten(), Bytes{});
    link.ClosePort();
    // Reopening while open closes the old port first; that path must stay silent too.
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    ASSERT_EQ(link.OpenPort(pty.PortName().c_str()), 1);
    link.ClosePort();
    EXPECT_EQ(pty.ReadWritten(), Bytes{});
}

TEST_F(SerialLink, DestructorReleasesAPortLeftOpen) {
    {
        CComAPI scoped;
        ASSERT_EQ(scoped.OpenAndDrain(pty.PortName().c_str()), 1);
    }
    EXPECT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
}

TEST_F(SerialLink, FailedOpenLeavesNoPortAndKeepsTheDecoderState) {
    const std::string regularFile = ::testing::TempDir() + "klt-not-a-terminal";
    std::ofstream(regularFile) << "text";
    const std::string tooLong(95, 'x');
    const char* names[] = {"ttyKLTNoSuchPort", "/dev/null", regularFile.c_str(), "", nullptr,
                           tooLong.c_str()};
    for (const char* name : names) {
        std::uint8_t out[2];
        link.ResetDecoder();
        link.DecodeBytes(Bytes{0x1C, '&', 0x30}.data(), 3, out);
        EXPECT_EQ(link.OpenAndDrain(name), 0) << (name ? name : "(null)");
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(link.DecodeMode(), CComAPI::DECODE_KANJI);
        EXPECT_EQ(link.JisHigh(), 0x30);
    }
    // A failed open also leaves no port behind when one was open before.
    ASSERT_EQ(link.OpenAndDrain(pty.PortName().c_str()), 1);
    EXPECT_EQ(link.OpenAndDrain("ttyKLTNoSuchPort"), 0);
    EXPECT_FALSE(link.IsOpen());
    pty.CloseObserver();
    EXPECT_EQ(OpenInOtherProcess(pty.PortName()), 1);
}

// "./" segments lengthen a name without changing the device it names.
std::string PaddedPortName(const std::string& portName, std::size_t length) {
    std::string name = portName;
    while (name.size() + 2 <= length) {
        name.insert(0, "./");
    }
    if (name.size() < length) {
        name.insert(1, "/");
    }
    return name;
}

TEST_F(SerialLink, LongNamesOpenUpToTheLimitAndAreNeverCutShort) {
    const std::string longest = PaddedPortName(pty.PortName(), 94);
    ASSERT_EQ(longest.size(), 94u);
    EXPECT_EQ(link.OpenAndDrain(longest.c_str()), 1);
    link.ClosePort();
    // Cut to the buffer, this name would open the port above.
    const std::string tooLong = longest + "9";
    EXPECT_EQ(link.OpenAndDrain(tooLong.c_str()), 0);
    EXPECT_FALSE(link.IsOpen());
    const std::string tooLongPath = "/dev/" + tooLong;
    EXPECT_EQ(link.OpenAndDrain(tooLongPath.c_str()), 0);
}

TEST(SerialDevicePath, IsTheNameUnderDevOrThePathItself) {
    struct Case {
        std::string name;
        bool fits;
        std::string path;
    };
    const std::string name94(94, 'n');
    const std::string path99 = "/" + std::string(98, 'p');
    const Case cases[] = {
        {"ttyUSB0", true, "/dev/ttyUSB0"},
        {"pts/3", true, "/dev/pts/3"},
        {"/dev/ttyS1", true, "/dev/ttyS1"},
        {name94, true, "/dev/" + name94},
        {name94 + "n", false, ""},
        {std::string(258, 'n'), false, ""},
        {path99, true, path99},
        {path99 + "p", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        char path[CComAPI::DEVICE_PATH_SIZE];
        std::fill(std::begin(path), std::end(path), 'Z');
        EXPECT_EQ(CComAPI::BuildDevicePath(c.name.c_str(), path, sizeof path), c.fits) << c.name;
        EXPECT_EQ(std::string(path), c.path) << c.name;
    }
}

} // namespace
