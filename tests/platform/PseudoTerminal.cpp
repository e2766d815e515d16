#include "PseudoTerminal.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        CloseMaster();
        return;
    }
    const char* name = ::ptsname(m_master);
    if (name == nullptr) {
        CloseMaster();
        return;
    }
    m_slavePath = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() {
    if (m_observer >= 0) {
        ::close(m_observer);
    }
    CloseMaster();
}

std::string PseudoTerminal::PortName() const {
    return m_slavePath.substr(5);
}

void PseudoTerminal::Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("write to the pseudo-terminal failed");
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

void PseudoTerminal::Write(const std::string& text) {
    Write(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> PseudoTerminal::ReadWritten() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[256];
    for (;;) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count <= 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
}

void PseudoTerminal::CloseMaster() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

int PseudoTerminal::OpenObserver() {
    if (m_observer < 0) {
        m_observer = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios attributes{};
        ::tcgetattr(m_observer, &attributes);
        ::cfmakeraw(&attributes);
        attributes.c_iflag |= ICRNL | IXON | IXOFF | INPCK | PARMRK | ISTRIP;
        attributes.c_cflag |= PARODD | CRTSCTS;
        attributes.c_cc[VMIN] = 1;
        ::cfsetispeed(&attributes, B9600);
        ::cfsetospeed(&attributes, B9600);
        ::tcsetattr(m_observer, TCSANOW, &attributes);
    }
    return m_observer;
}

void PseudoTerminal::CloseObserver() {
    if (m_observer >= 0) {
        ::close(m_observer);
        m_observer = -1;
    }
}

bool PseudoTerminal::WaitForInput(std::size_t count) {
    const int fd = OpenObserver();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) == 0 && static_cast<std::size_t>(waiting) >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}
