#include "platform/posix/PosixSerialDevice.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif

namespace {

// Without a cancel pipe, a wait returns this soon so that a stop still ends it quickly.
constexpr int UNCANCELLABLE_WAIT_MS = 100;

// Modem-control requests on a device without modem lines (a pseudo-terminal) fail with one
// of these; the lines they would set do not exist there.
bool NoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

bool SetModemLines(int fd, unsigned long request, int lines) {
    return ::ioctl(fd, request, &lines) == 0 || NoModemLines(errno);
}

bool IsPseudoTerminal(int fd) {
#ifdef __linux__
    // The device numbers of the slaves of Linux's pseudo-terminals.
    constexpr unsigned FIRST_PTY_SLAVE_MAJOR = 136;
    constexpr unsigned LAST_PTY_SLAVE_MAJOR = 143;
    struct stat status;
    return ::fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) &&
           major(status.st_rdev) >= FIRST_PTY_SLAVE_MAJOR &&
           major(status.st_rdev) <= LAST_PTY_SLAVE_MAJOR;
#else
    (void)fd;
    return false;
#endif
}

bool SameLineSettings(const termios& wanted, const termios& applied, bool withoutParity) {
    tcflag_t lineFlags = CSIZE | CSTOPB | PARENB | PARODD | CREAD | CLOCAL | CRTSCTS;
    if (withoutParity) {
        lineFlags &= ~(PARENB | PARODD);
    }
    return ::cfgetispeed(&applied) == ::cfgetispeed(&wanted) &&
           ::cfgetospeed(&applied) == ::cfgetospeed(&wanted) &&
           (applied.c_cflag & lineFlags) == (wanted.c_cflag & lineFlags) &&
           applied.c_iflag == wanted.c_iflag && applied.c_oflag == wanted.c_oflag &&
           applied.c_lflag == wanted.c_lflag && applied.c_cc[VMIN] == wanted.c_cc[VMIN] &&
           applied.c_cc[VTIME] == wanted.c_cc[VTIME];
}

speed_t SpeedConstant(unsigned baudRate) {
    struct Rate {
        unsigned baud;
        speed_t constant;
    };
    static constexpr Rate rates[] = {
        {300, B300},   {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},
        {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
    };
    for (const Rate& rate : rates) {
        if (rate.baud == baudRate) {
            return rate.constant;
        }
    }
    return B0;
}

} // namespace

std::unique_ptr<CSerialDevice> OpenSerialDevice(const char* devicePath, SerialOpenError& error) {
    std::unique_ptr<CSerialDevice> device = CPosixSerialDevice::Open(devicePath);
    if (!device) {
        switch (errno) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
            error = SerialOpenError::Missing;
            break;
        case EACCES:
        case EPERM:
            error = SerialOpenError::PermissionDenied;
            break;
        case EBUSY:
            error = SerialOpenError::Busy;
            break;
        default:
            error = SerialOpenError::Other;
            break;
        }
        return nullptr;
    }
    error = SerialOpenError::None;
    return device;
}

bool SerialDeviceExists(const char* devicePath) {
    struct stat status {};
    return devicePath[0] != '\0' && ::stat(devicePath, &status) == 0;
}

std::unique_ptr<CPosixSerialDevice> CPosixSerialDevice::Open(const char* path,
                                                             const std::string& lockFolder) {
    const int fd = OpenExclusive(path, lockFolder);
    if (fd < 0) {
        return nullptr;
    }
    auto device = std::make_unique<CPosixSerialDevice>(fd);
    if (!device->m_lock.Acquire(lockFolder, path)) {
        // Another program locked the port between the check and the open.
        device.reset();
        errno = EBUSY;
        return nullptr;
    }
    return device;
}

int CPosixSerialDevice::OpenExclusive(const char* path, const std::string& lockFolder) {
    struct stat status {};
    if (::stat(path, &status) != 0) {
        return -1;
    }
    if (portusers::LockedByOtherProcess(lockFolder, path) || portusers::OpenByOtherProcess(path)) {
        errno = EBUSY;
        return -1;
    }
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        // An adapter pulled out while it was being opened fails with ENODEV or EIO, and its
        // device file goes a moment later: either way the port is not connected.
        const int error = errno;
        errno = ::access(path, F_OK) != 0 && errno == ENOENT ? ENOENT : error;
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    // Fails only on a file that is no terminal, which the configuration then refuses.
    ::ioctl(fd, TIOCEXCL);
    return fd;
}

void CPosixSerialDevice::CloseExclusive(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

bool CPosixSerialDevice::BuildTermios(const SerialLineSettings& settings, termios& attributes) {
    const speed_t speed = SpeedConstant(settings.baudRate);
    if (speed == B0) {
        return false;
    }
    // Built from nothing rather than from the port's current attributes, so no setting left
    // behind by another program survives. All input and output flags stay clear: no CR/LF
    // translation, no stripping, no XON/XOFF, no parity check or marking (a byte with a
    // parity error arrives as received), a break reads as a zero byte; no echo, no signals.
    attributes = termios{};
    tcflag_t size = CS8;
    switch (settings.dataBits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return false;
    }
    attributes.c_cflag = size | CREAD | CLOCAL | HUPCL;
    if (settings.parity != SerialLineSettings::Parity::None) {
        attributes.c_cflag |= PARENB;
    }
    if (settings.parity == SerialLineSettings::Parity::Odd) {
        attributes.c_cflag |= PARODD;
    }
    if (settings.stopBits == 2) {
        attributes.c_cflag |= CSTOPB;
    } else if (settings.stopBits != 1) {
        return false;
    }
    // A read returns at once with what has arrived, possibly nothing.
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
    return ::cfsetispeed(&attributes, speed) == 0 && ::cfsetospeed(&attributes, speed) == 0;
}

bool CPosixSerialDevice::ConfigureLine(int fd, const SerialLineSettings& settings) {
    termios wanted;
    if (!BuildTermios(settings, wanted)) {
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &wanted) != 0) {
        // EINVAL also means "applied, but not every flag kept": a pseudo-terminal has no
        // parity and drops PARENB. Anything else the device did not take is a failure.
        termios applied;
        if (errno != EINVAL || ::tcgetattr(fd, &applied) != 0 ||
            !SameLineSettings(wanted, applied, IsPseudoTerminal(fd))) {
            return false;
        }
    }
    return SetModemLines(fd, TIOCMBIS, TIOCM_DTR | TIOCM_RTS);
}

CPosixSerialDevice::CPosixSerialDevice(int fd) : m_fd(fd) {
    int ends[2];
    if (::pipe(ends) != 0) {
        return;
    }
    for (const int end : ends) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    m_cancelRead = ends[0];
    m_cancelWrite = ends[1];
}

CPosixSerialDevice::~CPosixSerialDevice() {
    CloseExclusive(m_fd);
    if (m_cancelRead >= 0) {
        ::close(m_cancelRead);
        ::close(m_cancelWrite);
    }
}

bool CPosixSerialDevice::ClearLineErrors() {
    // With parity checking off a terminal latches no line error; there is nothing to clear.
    return true;
}

bool CPosixSerialDevice::SetQueueSizes(std::size_t, std::size_t) {
    // The kernel's terminal queues have a fixed size.
    return true;
}

bool CPosixSerialDevice::Purge() {
    return ::tcflush(m_fd, TCIOFLUSH) == 0;
}

bool CPosixSerialDevice::MakeReadsReturnAtOnce() {
    const int flags = ::fcntl(m_fd, F_GETFL);
    return flags >= 0 && ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool CPosixSerialDevice::ApplyLineSettings(const SerialLineSettings& settings) {
    return ConfigureLine(m_fd, settings);
}

bool CPosixSerialDevice::StopEventNotification() {
    // No event notification is ever requested on a terminal.
    return true;
}

SerialRead CPosixSerialDevice::Read(std::uint8_t* buffer, std::size_t size, std::size_t& received) {
    received = 0;
    const ssize_t count = ::read(m_fd, buffer, size);
    if (count > 0) {
        received = static_cast<std::size_t>(count);
        return SerialRead::Done;
    }
    if (count < 0) {
        switch (errno) {
        case EAGAIN:
        case EINTR:
            return SerialRead::Done;
        case EIO: // a pseudo-terminal whose other end has closed, a failing adapter
        case ENXIO:
        case ENODEV:
            return SerialRead::LineLost;
        default:
            return SerialRead::Failed;
        }
    }
    // A read of nothing is also all that a hung-up terminal (an unplugged adapter) gives;
    // the hang-up itself shows in a poll, which costs nothing and never waits here.
    pollfd watch{m_fd, POLLIN, 0};
    if (::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return SerialRead::LineLost;
    }
    return SerialRead::Done;
}

bool CPosixSerialDevice::DropDtr() {
    return SetModemLines(m_fd, TIOCMBIC, TIOCM_DTR);
}

SerialWait CPosixSerialDevice::WaitForInput(int timeoutMs) {
    pollfd watch[2] = {{m_fd, POLLIN, 0}, {m_cancelRead, POLLIN, 0}};
    const bool cancellable = m_cancelRead >= 0;
    if (!cancellable && (timeoutMs < 0 || timeoutMs > UNCANCELLABLE_WAIT_MS)) {
        // Nothing could end a long wait when the reader is stopped.
        timeoutMs = UNCANCELLABLE_WAIT_MS;
    }
    const int ready = ::poll(watch, cancellable ? 2 : 1, timeoutMs);
    if (ready == 0) {
        return SerialWait::TimedOut;
    }
    if (ready < 0) {
        return SerialWait::Input; // a signal, or a failure a read will report
    }
    if (cancellable && watch[1].revents != 0) {
        std::uint8_t drain[64];
        while (::read(m_cancelRead, drain, sizeof drain) > 0) {
        }
        return SerialWait::Cancelled;
    }
    if ((watch[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return SerialWait::HungUp;
    }
    return SerialWait::Input;
}

void CPosixSerialDevice::CancelWait() {
    if (m_cancelWrite < 0) {
        return;
    }
    // A full pipe already holds a cancel, so a write that fails loses nothing.
    const std::uint8_t wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_cancelWrite, &wake, 1);
}
