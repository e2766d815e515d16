#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// What klt-capture tells on standard error. On a terminal: one status line (state, bytes,
// lines, time in this state) rewritten in place, with events printed above it. Otherwise
// (a log, the journal): one line per event and no status line.
class CProgress {
public:
    CProgress(std::string port, bool terminal) : m_port(std::move(port)), m_terminal(terminal) {}
    ~CProgress() { ClearStatus(); }

    // A line that stays: an event, a note or a message of the reception.
    void Event(const std::string& text);

    // The state shown in the status line from now on; its time starts again.
    void SetState(const std::string& state);
    // Redraws the status line with the current figures (terminal only).
    void Update(std::size_t bytes, std::size_t lines);

private:
    void ClearStatus();
    void DrawStatus();

    using Clock = std::chrono::steady_clock;
    std::string m_port;
    bool m_terminal;
    std::string m_state;
    Clock::time_point m_since = Clock::now();
    std::size_t m_bytes = 0;
    std::size_t m_lines = 0;
    bool m_statusShown = false;
    std::string m_lastStatus;
};
