// klt-sim run as a real process on a real pseudo-terminal, received through the serial link.
#include "PseudoTerminal.h"
#include "common/SimulatorProcess.h"
#include "core/document/KLTDoc.h"
#include "core/reception/ChunkText.h"
#include "core/reception/ComAPI.h"
#include "platform/posix/VirtualPortRegistry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using simulator_process::Simulator;

using simulator_process::ENOUGH_TIME;

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// A receiver with its own descriptor on the port, which neither purges nor drains: what
// the simulator sent before the open would show up here.
struct Arrival {
    Clock::time_point time;
    Bytes bytes;
};

class PlainReceiver {
public:
    explicit PlainReceiver(const std::string& portName) {
        opened = Clock::now();
        m_fd = ::open(("/dev/" + portName).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~PlainReceiver() { Close(); }

    bool IsOpen() const { return m_fd >= 0; }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    // Reads until count bytes have arrived (for ENOUGH_TIME at most), and a little longer to
    // catch any surplus; every read that delivered something is kept with its time.
    std::vector<Arrival> ReadUntil(std::size_t count) {
        std::vector<Arrival> arrivals;
        std::size_t total = 0;
        auto deadline = Clock::now() + ENOUGH_TIME;
        bool lingering = false;
        while (Clock::now() < deadline) {
            if (total >= count && !lingering) {
                lingering = true;
                deadline = Clock::now() + std::chrono::milliseconds(200);
            }
            std::uint8_t buffer[512];
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got > 0) {
                arrivals.push_back({Clock::now(), Bytes(buffer, buffer + got)});
                total += static_cast<std::size_t>(got);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        return arrivals;
    }

    Clock::time_point opened;

private:
    int m_fd = -1;
};

Bytes Joined(const std::vector<Arrival>& arrivals) {
    Bytes all;
    for (const Arrival& arrival : arrivals) {
        all.insert(all.end(), arrival.bytes.begin(), arrival.bytes.end());
    }
    return all;
}

// When the byte at index arrived.
Clock::time_point ArrivalOf(const std::vector<Arrival>& arrivals, std::size_t index) {
    for (const Arrival& arrival : arrivals) {
        if (index < arrival.bytes.size()) {
            return arrival.time;
        }
        index -= arrival.bytes.size();
    }
    return Clock::time_point::max();
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A registry of our own, so that parallel tests and real simulators do not meet.
        m_directory = ::testing::TempDir() + "klt-sim-test-" + std::to_string(::getpid());
        std::filesystem::create_directories(m_directory);
        ::setenv("XDG_RUNTIME_DIR", m_directory.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }

    std::string WriteStream(const Bytes& bytes) {
        const std::string path = m_directory + "/stream-" + std::to_string(m_streams++) + ".prn";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private:
    std::string m_directory;
    int m_streams = 0;
};

// Every byte value, line ends, XON/XOFF, FS and zero bytes among them.
Bytes EveryByteValue() {
    Bytes bytes;
    for (int i = 0; i < 300; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i * 7 + i / 256));
    }
    return bytes;
}

TEST_F(SimulatorTest, SendsTheFileUnchangedOnlyAfterTheOpenAndTheDelay) {
    const Bytes stream = EveryByteValue();
    Simulator sim({"--delay", "0.4", "--rate", "3000", WriteStream(stream)});
    const std::string port = sim.PortName();
    ASSERT_FALSE(port.empty());
    // Nothing may go out while nobody has the port open.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    PlainReceiver receiver(port);
    ASSERT_TRUE(receiver.IsOpen());
    const auto arrivals = receiver.ReadUntil(stream.size());
    EXPECT_EQ(Joined(arrivals), stream);
    ASSERT_FALSE(arrivals.empty());
    EXPECT_GE(SecondsBetween(receiver.opened, arrivals.front().time), 0.39);

    // One complete play, then the port closes: the simulator has done its job.
    receiver.Close();
    EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST_F(SimulatorTest, PacesTheStreamAtTheLineSpeed) {
    const Bytes stream(100, 'A');
    Simulator sim({"--delay", "0", WriteStream(stream)});
    PlainReceiver receiver(sim.PortName());
    const auto arrivals = receiver.ReadUntil(stream.size());
    ASSERT_EQ(Joined(arrivals), stream);
    // 99 byte times at 200 bytes a second; generous above, since the machine may be busy.
    const double duration = SecondsBetween(arrivals.front().time, arrivals.back().time);
    EXPECT_GT(duration, 0.4);
    EXPECT_LT(duration, 5.0);
}

TEST_F(SimulatorTest, SendsJunkFirstAndPausesWhereAsked) {
    Bytes stream;
    for (int i = 0; i < 40; ++i) {
        stream.push_back(static_cast<std::uint8_t>('0' + i % 10));
    }
    Simulator sim({"--delay", "0", "--rate", "5000", "--junk", "85", "--pause-at", "10:0.5",
                   WriteStream(stream)});
    PlainReceiver receiver(sim.PortName());
    const auto arrivals = receiver.ReadUntil(85 + stream.size());
    const Bytes all = Joined(arrivals);
    ASSERT_EQ(all.size(), 85 + stream.size());
    for (std::size_t i = 0; i < 85; ++i) {
        const std::uint8_t byte = all[i];
        EXPECT_TRUE(byte == 0x0D || (byte >= 0x20 && byte < 0x7F && byte != '*')) << i;
    }
    EXPECT_EQ(Bytes(all.begin() + 85, all.end()), stream);
    EXPECT_GE(SecondsBetween(ArrivalOf(arrivals, 85 + 9), ArrivalOf(arrivals, 85 + 10)), 0.45);
}

TEST_F(SimulatorTest, RepeatPlaysOnEveryNewOpen) {
    const Bytes stream = {'R', 'E', 'P', '\r'};
    Simulator sim({"--repeat", "--delay", "0.05", "--rate", "5000", WriteStream(stream)});
    const std::string port = sim.PortName();
    for (int play = 0; play < 2; ++play) {
        PlainReceiver receiver(port);
        EXPECT_EQ(Joined(receiver.ReadUntil(stream.size())), stream) << play;
        receiver.Close();
        // The simulator looks at the port every 10 ms; a person takes longer to reopen it.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST_F(SimulatorTest, AnnouncesItsPortWhileItRuns) {
    Simulator sim({"--delay", "0", WriteStream({'A'})});
    const std::string port = sim.PortName();
    ASSERT_FALSE(port.empty());
    const auto entries = vports::List();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].portName, port);
    EXPECT_EQ(entries[0].description, "KLT machine simulator");

    EXPECT_EQ(sim.Terminate(), 0);
    const std::string entry =
        vports::RegistryDirectory() + "/" + std::to_string(sim.Pid()) + ".port";
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(vports::List().empty());
}

TEST_F(SimulatorTest, PlaysIntoARealDeviceByName) {
    // The slave of a pseudo-terminal stands in for a serial device; it has no modem lines,
    // so the simulator sends without waiting for a receiver.
    PseudoTerminal line;
    const Bytes stream = EveryByteValue();
    Simulator sim({"--device", line.SlavePath(), "--delay", "0", "--burst", WriteStream(stream)});
    EXPECT_EQ(sim.PortName(), line.SlavePath());
    Bytes received;
    const auto deadline = Clock::now() + ENOUGH_TIME;
    while (received.size() < stream.size() && Clock::now() < deadline) {
        const Bytes more = line.ReadWritten();
        received.insert(received.end(), more.begin(), more.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(received, stream);
    EXPECT_EQ(sim.WaitForExit(), 0);
}

TEST_F(SimulatorTest, ReportsBadFilesDevicesAndOptions) {
    PseudoTerminal busyLine;
    CComAPI holder;
    ASSERT_EQ(holder.OpenAndDrain(busyLine.PortName().c_str()), 1);
    const std::string stream = WriteStream({'A'});
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"/nonexistent/history.prn"}, 1, "/nonexistent/history.prn"},
        {{"--device", "ttyKLTNoSuchDevice", stream}, 1, "/dev/ttyKLTNoSuchDevice"},
        {{"--device", busyLine.PortName(), stream}, 1, "in use"},
        {{"--device", "/dev/null", stream}, 1, "/dev/null"},
        {{"--rate", "fast", stream}, 2, "--rate"},
        {{"--pause-at", "5", stream}, 2, "OFFSET:SECONDS"},
        {{"--pause-at", "9:1", stream}, 2, "beyond"},
        {{"--frobnicate", stream}, 2, "--frobnicate"},
        {{}, 2, "no stream file"},
    };
    for (const Case& c : cases) {
        Simulator sim(c.arguments, true);
        EXPECT_EQ(sim.WaitForExit(), c.status) << c.message;
        const std::string errors = sim.ErrorOutput();
        EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
        EXPECT_EQ(errors.find("klt-sim: "), 0u) << errors;
    }
    Simulator help({"--help"}, true);
    EXPECT_EQ(help.PortName().rfind("Usage: klt-sim", 0), 0u);
    EXPECT_EQ(help.WaitForExit(), 0);
}

// A history stream as the machine prints it: text, kanji, printer commands with zero
// parameter bytes, the marker and every kind of line end.
Bytes HistoryStream() {
    Bytes bytes;
    auto text = [&](const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); };
    text("\x1B@\x1B!");
    bytes.push_back(0x00);
    text("****\r");
    text("OPERATION HISTORY\r\n");
    text("\x1C&\x30\x21\x4B\x21\x24\x22\x1C.");
    text(" 2024/05/01 10:00\r");
    for (int i = 0; i < 6; ++i) {
        text("LINE " + std::to_string(i) + " \xB1\xB2\xB3\n\r");
    }
    text("\x1C&\x23\x30\x23\x41\x1C\x1C&\x5F\x21\x1C.END\r");
    return bytes;
}

TEST_F(SimulatorTest, ReceptionThroughTheLinkMatchesDecodingTheFile) {
    const Bytes stream = HistoryStream();
    CKLTDoc expected;
    {
        CComAPI decoder;
        Bytes decoded(2 * stream.size());
        std::size_t length = decoder.DecodeBytes(stream.data(), stream.size(), decoded.data());
        length = RemoveZeroBytes(decoded.data(), length);
        expected.AppendText(std::string(decoded.begin(), decoded.begin() + length));
    }
    ASSERT_EQ(expected.GetLineCount(), 10u);

    Simulator sim({"--delay", "0.3", "--pause-at", "60:0.2", WriteStream(stream)});
    const std::string port = sim.PortName();
    CComAPI link;
    ASSERT_EQ(link.OpenAndDrain(port.c_str()), 1);
    CKLTDoc received;
    // The reader's loop: a poll every 100 ms until one second of silence after the data.
    bool anyInput = false;
    auto lastInput = Clock::now();
    const auto deadline = Clock::now() + ENOUGH_TIME;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::uint8_t chunk[CComAPI::DECODED_BUFFER_SIZE];
        std::size_t length = 0;
        if (link.ReadAndDecode(chunk, length) == 1) {
            anyInput = true;
            lastInput = Clock::now();
            length = RemoveZeroBytes(chunk, length);
            received.AppendText(std::string(reinterpret_cast<const char*>(chunk), length));
        } else if (anyInput && Clock::now() - lastInput > std::chrono::seconds(1)) {
            break;
        }
    }
    link.ClosePort();

    ASSERT_EQ(received.GetLineCount(), expected.GetLineCount());
    for (std::size_t i = 0; i < expected.GetLineCount(); ++i) {
        EXPECT_EQ(received.GetLine(i), expected.GetLine(i)) << i;
    }
    EXPECT_EQ(received.GetPendingText(), expected.GetPendingText());
    EXPECT_EQ(received.GetMaxLength(), expected.GetMaxLength());
    EXPECT_EQ(sim.WaitForExit(), 0);
}

} // namespace
