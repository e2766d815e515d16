#pragma once

#include <QEvent>

#include <cstdint>

// Messages posted to the main window. Posting is safe from any thread; the message is
// handled on the UI thread when the event loop gets to it, after what was posted before.
namespace klt {

constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_TIMER = 0x0113;

class CPostedMessageEvent : public QEvent {
public:
    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    CPostedMessageEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(EventType()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

    unsigned Message() const { return m_message; }
    std::uintptr_t WParam() const { return m_wParam; }
    std::intptr_t LParam() const { return m_lParam; }

private:
    unsigned m_message;
    std::uintptr_t m_wParam;
    std::intptr_t m_lParam;
};

} // namespace klt
