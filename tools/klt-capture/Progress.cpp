#include "Progress.h"

void CProgress::Event(const std::string& text) {
    ClearStatus();
    std::fprintf(stderr, "klt-capture: %s: %s\n", m_port.c_str(), text.c_str());
    if (m_terminal) {
        DrawStatus();
    }
    std::fflush(stderr);
}

void CProgress::SetState(const std::string& state) {
    m_state = state;
    m_since = Clock::now();
    m_bytes = 0;
    m_lines = 0;
    if (m_terminal) {
        DrawStatus();
    }
}

void CProgress::Update(std::size_t bytes, std::size_t lines) {
    m_bytes = bytes;
    m_lines = lines;
    if (m_terminal) {
        DrawStatus();
    }
}

void CProgress::ClearStatus() {
    if (m_statusShown) {
        std::fputs("\r\033[K", stderr);
        m_statusShown = false;
    }
}

void CProgress::DrawStatus() {
    if (m_state.empty()) {
        return;
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_since).count();
    char status[512];
    std::snprintf(status, sizeof status, "%s: %s  %zu bytes  %zu lines  %lld:%02lld",
                  m_port.c_str(), m_state.c_str(), m_bytes, m_lines,
                  static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    if (m_statusShown && m_lastStatus == status) {
        return;
    }
    std::fprintf(stderr, "\r\033[K%s", status);
    std::fflush(stderr);
    m_lastStatus = status;
    m_statusShown = true;
}
