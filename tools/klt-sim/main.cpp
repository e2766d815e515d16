// klt-sim: plays a recorded print stream into a serial line, as the machine would send it
// after its user pressed "M". See Usage() for what it does and its options.
#include "core/reception/ComAPI.h"
#include "core/res/Version.h"
#include "platform/posix/PosixSerialDevice.h"
#include "platform/posix/VirtualPortRegistry.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* PROGRAM = "klt-sim";
constexpr const char* PORT_DESCRIPTION = "KLT machine simulator";
// The machine's line: 2400 baud with twelve bit times per byte.
constexpr double LINE_RATE = 200.0;
constexpr SerialLineSettings MACHINE_LINE = {2400, 8, SerialLineSettings::Parity::Even, 2};
// How often the receiver's presence and the stop request are looked at while waiting.
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(10);

volatile std::sig_atomic_t g_stopRequested = 0;

void RequestStop(int) {
    g_stopRequested = 1;
}

void Usage(std::FILE* out) {
    std::fprintf(out, R"(Usage: klt-sim [OPTIONS] STREAM_FILE

Plays a raw print stream (a recorded byte file) into a serial line, the way the machine
sends its operation history: it waits until the receiver opens the port, waits DELAY
seconds (the user pressing "M"), sends the stream at the line's speed and goes silent.

Without --device it creates a virtual serial port (a pseudo-terminal), announces it to
KLT's port list and prints its name (such as pts/3) on one line of standard output.
Open that port in KLT, or by its path /dev/pts/3 in any serial program.

Options:
  --device NAME        play into a real serial device (ttyUSB0 or /dev/ttyUSB0) with
                       the machine's settings, 2400 baud 8E2, for a bench rig with a
                       null-modem cable; the receiver's open is seen by its DTR/RTS
                       (DSR, CD or CTS here)
  --no-wait            with --device: do not wait for the receiver (three-wire cables);
                       send once after the delay
  --delay SECONDS      wait this long after the receiver opened the port (default 2)
  --rate BYTES_PER_S   pace the stream at this rate (default 200, the line's speed)
  --burst              send as fast as the line takes it, to stress the receiver
  --junk N             send N bytes of line noise (printable text and CRs, never a
                       marker or control sequence) before the stream
  --pause-at OFFSET:SECONDS
                       fall silent for SECONDS before the byte at OFFSET of the stream
                       file (repeatable)
  --repeat             play again on every new open of the port; without it the
                       simulator ends once a complete play has been received and the
                       port closed
  --help               show this help
  --version            show the version

Ctrl+C or SIGTERM ends the simulator and removes its virtual port.
Exit status: 0 when done; 1 for a missing file, a busy or absent device or a failing
line; 2 for bad options.
)");
}

[[noreturn]] void Fail(int status, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", PROGRAM, message.c_str());
    if (status == 2) {
        std::fprintf(stderr, "Try 'klt-sim --help'.\n");
    }
    std::exit(status);
}

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

void Note(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", PROGRAM, message.c_str());
}

struct Pause {
    std::size_t offset;
    double seconds;
};

struct Options {
    std::string streamFile;
    std::string device;
    bool waitForReceiver = true;
    double delay = 2.0;
    double rate = LINE_RATE;
    bool burst = false;
    std::size_t junk = 0;
    std::vector<Pause> pauses;
    bool repeat = false;
};

double ParseNumber(const std::string& option, const char* text, const char* what) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 0) {
        Fail(2, option + ": not " + what + ": '" + text + "'");
    }
    return value;
}

double ParseSeconds(const std::string& option, const char* text) {
    return ParseNumber(option, text, "a number of seconds");
}

std::size_t ParseCount(const std::string& option, const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || text[0] == '-') {
        Fail(2, option + ": not a byte count: '" + text + "'");
    }
    return static_cast<std::size_t>(value);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                Fail(2, argument + " needs a value");
            }
            return argv[++i];
        };
        if (argument == "--help" || argument == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (argument == "--version") {
            std::puts("klt-sim " KLT_VERSION);
            std::exit(0);
        } else if (argument == "--device") {
            options.device = value();
        } else if (argument == "--no-wait") {
            options.waitForReceiver = false;
        } else if (argument == "--delay") {
            options.delay = ParseSeconds(argument, value());
        } else if (argument == "--rate") {
            options.rate = ParseNumber(argument, value(), "a number of bytes per second");
            if (options.rate <= 0) {
                Fail(2, "--rate must be above 0");
            }
        } else if (argument == "--burst") {
            options.burst = true;
        } else if (argument == "--junk") {
            options.junk = ParseCount(argument, value());
        } else if (argument == "--pause-at") {
            const std::string text = value();
            const std::size_t colon = text.find(':');
            if (colon == std::string::npos) {
                Fail(2, "--pause-at takes OFFSET:SECONDS, not '" + text + "'");
            }
            options.pauses.push_back({ParseCount(argument, text.substr(0, colon).c_str()),
                                      ParseSeconds(argument, text.c_str() + colon + 1)});
        } else if (argument == "--repeat") {
            options.repeat = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            Fail(2, "unknown option '" + argument + "'");
        } else if (options.streamFile.empty()) {
            options.streamFile = argument;
        } else {
            Fail(2, "only one stream file can be played");
        }
    }
    if (options.streamFile.empty()) {
        Fail(2, "no stream file given");
    }
    if (!options.waitForReceiver && options.device.empty()) {
        Fail(2, "--no-wait applies to --device only");
    }
    std::sort(options.pauses.begin(), options.pauses.end(),
              [](const Pause& a, const Pause& b) { return a.offset < b.offset; });
    return options;
}

Bytes LoadStream(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail(1, "cannot open stream file '" + path + "': " + std::strerror(errno));
    }
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        Fail(1, "cannot read stream file '" + path + "'");
    }
    return bytes;
}

// Printable text with a CR now and then. Never '*' (it could form a marker) and no control
// byte (an FS would switch the receiver's decoder into kanji mode).
Bytes MakeJunk(std::size_t count) {
    Bytes junk;
    junk.reserve(count);
    std::uint32_t state = 0x4B4C54u;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        if (i % 40 == 39) {
            junk.push_back(0x0D);
            continue;
        }
        std::uint8_t byte = static_cast<std::uint8_t>(0x20 + (state >> 24) % 0x5F);
        junk.push_back(byte == '*' ? '+' : byte);
    }
    return junk;
}

// The serial line the stream goes into.
class Line {
public:
    virtual ~Line() = default;
    // The name to open the port by.
    virtual const std::string& PortName() const = 0;
    // Whether the receiver has the port open. Also throws away what the receiver sent.
    virtual bool ReceiverPresent() = 0;
    // Whether opens and closes of the receiver can be told at all.
    virtual bool SeesReceiver() const { return true; }
    virtual int Descriptor() const = 0;
    virtual ssize_t Write(const std::uint8_t* bytes, std::size_t count) {
        return ::write(Descriptor(), bytes, count);
    }
    // Waits until what was written has left (a real line has a transmit queue).
    virtual void Flush() {}
};

// A pseudo-terminal: the receiver opens its slave side, the stream goes into the master.
//
// Telling whether the slave is open: Linux reports POLLHUP on the master while no slave
// descriptor is open, but only once a slave has been opened and closed. So the slave is
// opened once here (also to give it raw 2400 8E2 attributes, so even a receiver that sets
// nothing gets the bytes unchanged) and closed again; from then on POLLHUP clears when the
// receiver opens the slave and returns when it closes it. No slave descriptor is kept open
// here, which would hide the receiver's close.
class VirtualLine final : public Line {
public:
    VirtualLine() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            Fail(1, std::string("cannot create a virtual port: ") + std::strerror(errno));
        }
        const char* slave = ::ptsname(m_master);
        if (slave == nullptr || std::strncmp(slave, "/dev/", 5) != 0) {
            Fail(1, "cannot name the virtual port");
        }
        m_portName = slave + 5;
        const int slaveFd = ::open(slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slaveFd < 0) {
            Fail(1, std::string("cannot open the virtual port: ") + std::strerror(errno));
        }
        termios attributes;
        if (CPosixSerialDevice::BuildTermios(MACHINE_LINE, attributes)) {
            ::tcsetattr(slaveFd, TCSANOW, &attributes);
        }
        ::close(slaveFd);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        if (!vports::Register(m_portName, PORT_DESCRIPTION)) {
            Note("could not announce " + m_portName + " to the port list");
        }
    }

    ~VirtualLine() override {
        vports::Unregister();
        ::close(m_master);
    }

    const std::string& PortName() const override { return m_portName; }

    bool ReceiverPresent() override {
        pollfd entry{m_master, POLLIN, 0};
        if (::poll(&entry, 1, 0) < 0) {
            return false;
        }
        if (entry.revents & POLLHUP) {
            return false;
        }
        if (entry.revents & POLLIN) {
            std::uint8_t discard[256];
            while (::read(m_master, discard, sizeof discard) > 0) {
            }
        }
        return true;
    }

    int Descriptor() const override { return m_master; }

private:
    int m_master = -1;
    std::string m_portName;
};

// A real serial device, opened for this process alone like the receiver opens its port.
// Through a null-modem cable the receiver's DTR and RTS arrive as DSR, CD and CTS.
class DeviceLine final : public Line {
public:
    DeviceLine(const std::string& name, bool waitForReceiver) : m_portName(name) {
        char path[CComAPI::DEVICE_PATH_SIZE];
        if (!CComAPI::BuildDevicePath(name.c_str(), path, sizeof path)) {
            Fail(1, "device name too long or empty: '" + name + "'");
        }
        m_fd = CPosixSerialDevice::OpenExclusive(path);
        if (m_fd < 0) {
            if (errno == EBUSY) {
                Fail(1, std::string(path) + " is in use by another program");
            }
            Fail(1, std::string("cannot open ") + path + ": " + std::strerror(errno));
        }
        if (!CPosixSerialDevice::ConfigureLine(m_fd, MACHINE_LINE)) {
            CPosixSerialDevice::CloseExclusive(m_fd);
            Fail(1, std::string(path) + " is no serial port that takes 2400 baud 8E2");
        }
        int lines = 0;
        m_seesReceiver = waitForReceiver && ::ioctl(m_fd, TIOCMGET, &lines) == 0;
        if (waitForReceiver && !m_seesReceiver) {
            Note(std::string(path) + " reports no modem lines; sending without waiting");
        }
    }

    ~DeviceLine() override {
        // What an interrupted play left in the transmit queue would hold up the close.
        if (m_unsent) {
            ::tcflush(m_fd, TCOFLUSH);
        }
        CPosixSerialDevice::CloseExclusive(m_fd);
    }

    const std::string& PortName() const override { return m_portName; }

    bool ReceiverPresent() override {
        std::uint8_t discard[256];
        while (::read(m_fd, discard, sizeof discard) > 0) {
        }
        if (!m_seesReceiver) {
            return true;
        }
        int lines = 0;
        return ::ioctl(m_fd, TIOCMGET, &lines) == 0 &&
               (lines & (TIOCM_DSR | TIOCM_CD | TIOCM_CTS)) != 0;
    }

    bool SeesReceiver() const override { return m_seesReceiver; }
    int Descriptor() const override { return m_fd; }
    ssize_t Write(const std::uint8_t* bytes, std::size_t count) override {
        m_unsent = true;
        return ::write(m_fd, bytes, count);
    }
    void Flush() override {
        ::tcdrain(m_fd);
        m_unsent = false;
    }

private:
    int m_fd = -1;
    bool m_unsent = false;
    std::string m_portName;
    bool m_seesReceiver = false;
};

enum class Outcome { Sent, ReceiverLeft, Stopped, LineFailed };

// Waits for the given time; stops early when asked to, or when the receiver leaves.
Outcome Wait(Line& line, Clock::duration duration) {
    const Clock::time_point end = Clock::now() + duration;
    for (;;) {
        if (g_stopRequested) {
            return Outcome::Stopped;
        }
        if (!line.ReceiverPresent()) {
            return Outcome::ReceiverLeft;
        }
        const Clock::time_point now = Clock::now();
        if (now >= end) {
            return Outcome::Sent;
        }
        ::usleep(static_cast<useconds_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::min<Clock::duration>(end - now, POLL_INTERVAL))
                                             .count()));
    }
}

Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Sends the stream (junk first), paced at the rate, with the pauses.
Outcome Send(Line& line, const Bytes& stream, std::size_t junkLength, const Options& options) {
    std::size_t sent = 0;
    std::size_t nextPause = 0;
    Clock::time_point paceStart = Clock::now();
    std::size_t paceBase = 0;
    while (sent < stream.size()) {
        if (g_stopRequested) {
            return Outcome::Stopped;
        }
        if (!line.ReceiverPresent()) {
            return Outcome::ReceiverLeft;
        }
        std::size_t limit = stream.size();
        if (nextPause < options.pauses.size()) {
            const std::size_t pauseAt = junkLength + options.pauses[nextPause].offset;
            if (pauseAt == sent) {
                const Outcome outcome = Wait(line, Seconds(options.pauses[nextPause].seconds));
                if (outcome != Outcome::Sent) {
                    return outcome;
                }
                ++nextPause;
                paceStart = Clock::now();
                paceBase = sent;
                continue;
            }
            limit = std::min(limit, pauseAt);
        }
        std::size_t due = limit;
        if (!options.burst) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - paceStart).count();
            const auto paced = paceBase + static_cast<std::size_t>(elapsed * options.rate) + 1;
            due = std::min(limit, paced);
        }
        if (due > sent) {
            const ssize_t count = line.Write(stream.data() + sent, due - sent);
            if (count > 0) {
                sent += static_cast<std::size_t>(count);
                continue;
            }
            if (count < 0 && errno != EAGAIN && errno != EINTR) {
                Note(std::string("cannot send on ") + line.PortName() + ": " +
                     std::strerror(errno));
                return Outcome::LineFailed;
            }
            // The receiver's queue is full: wait until the line takes more.
            pollfd entry{line.Descriptor(), POLLOUT, 0};
            ::poll(&entry, 1, static_cast<int>(POLL_INTERVAL.count()));
            continue;
        }
        const auto nextDue = paceStart + Seconds((sent - paceBase) / options.rate);
        const auto wait = std::min<Clock::duration>(nextDue - Clock::now(), POLL_INTERVAL);
        if (wait > Clock::duration::zero()) {
            ::usleep(static_cast<useconds_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(wait).count()));
        }
    }
    line.Flush();
    return Outcome::Sent;
}

// Waits until the receiver's presence is as wanted; false when asked to stop.
bool WaitForReceiver(Line& line, bool present) {
    while (!g_stopRequested) {
        if (line.ReceiverPresent() == present) {
            return true;
        }
        ::usleep(static_cast<useconds_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(POLL_INTERVAL).count()));
    }
    return false;
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

int Run(const Options& options) {
    const Bytes file = LoadStream(options.streamFile);
    for (const Pause& pause : options.pauses) {
        if (pause.offset > file.size()) {
            Fail(2, "--pause-at " + std::to_string(pause.offset) + " lies beyond the " +
                        std::to_string(file.size()) + " bytes of the stream");
        }
    }
    Bytes stream = MakeJunk(options.junk);
    const std::size_t junkLength = stream.size();
    stream.insert(stream.end(), file.begin(), file.end());

    InstallSignalHandlers();
    std::unique_ptr<Line> line;
    if (options.device.empty()) {
        line = std::make_unique<VirtualLine>();
    } else {
        line = std::make_unique<DeviceLine>(options.device, options.waitForReceiver);
    }
    std::printf("%s\n", line->PortName().c_str());
    std::fflush(stdout);

    for (;;) {
        Note("waiting for the receiver to open " + line->PortName());
        if (!WaitForReceiver(*line, true)) {
            break;
        }
        Note(line->PortName() + " opened; sending " + std::to_string(stream.size()) +
             " bytes after " + FormatSeconds(options.delay));
        Outcome outcome = Wait(*line, Seconds(options.delay));
        if (outcome == Outcome::Sent) {
            outcome = Send(*line, stream, junkLength, options);
        }
        if (outcome == Outcome::Stopped) {
            break;
        }
        if (outcome == Outcome::LineFailed) {
            return 1;
        }
        if (outcome == Outcome::ReceiverLeft) {
            Note("the receiver closed the port before the end of the stream");
            continue;
        }
        Note("stream sent");
        if (!line->SeesReceiver()) {
            break;
        }
        if (!WaitForReceiver(*line, false)) {
            break;
        }
        if (!options.repeat) {
            break;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return Run(ParseOptions(argc, argv));
}
