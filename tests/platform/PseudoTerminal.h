#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A real pseudo-terminal pair for the serial tests. The test plays the machine on the master
// side; the link under test opens the slave, by its path or by its name under /dev.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool IsValid() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slavePath; } // "/dev/pts/3"
    std::string PortName() const;                                // "pts/3"

    // Sends bytes to the slave side, as the machine would.
    void Write(const std::vector<std::uint8_t>& bytes);
    void Write(const std::string& text);

    // Everything the slave side has written so far (the master never waits).
    std::vector<std::uint8_t> ReadWritten();

    // The machine's end vanishes.
    void CloseMaster();

    // A descriptor of our own on the slave, opened before the link takes the port (which then
    // refuses further opens), to watch its input queue and its attributes. Opened in raw
    // mode with unusual settings, which the link must replace.
    int OpenObserver();
    // Closes that descriptor: while it is open, other processes see the port in use.
    void CloseObserver();

    // Waits (up to a few seconds) until at least count bytes wait in the slave's input queue:
    // bytes written to the master reach it asynchronously.
    bool WaitForInput(std::size_t count);

private:
    int m_master = -1;
    int m_observer = -1;
    std::string m_slavePath;
};
