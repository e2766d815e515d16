#include "gui/framework/WindowTimers.h"

#include <QTimerEvent>

CWindowTimers::CWindowTimers(Handler onTimer, QObject* parent)
    : QObject(parent), m_onTimer(std::move(onTimer)) {}

void CWindowTimers::SetTimer(unsigned id, unsigned periodMs) {
    KillTimer(id);
    const int qtTimerId = startTimer(static_cast<int>(periodMs), Qt::PreciseTimer);
    if (qtTimerId != 0) {
        m_timers[id] = {qtTimerId, static_cast<int>(periodMs)};
    }
}

void CWindowTimers::KillTimer(unsigned id) {
    const auto found = m_timers.find(id);
    if (found == m_timers.end()) {
        return;
    }
    killTimer(found->second.qtTimerId);
    m_timers.erase(found);
}

bool CWindowTimers::IsTimerSet(unsigned id) const {
    return m_timers.count(id) != 0;
}

int CWindowTimers::TimerPeriod(unsigned id) const {
    const auto found = m_timers.find(id);
    return found == m_timers.end() ? -1 : found->second.periodMs;
}

void CWindowTimers::timerEvent(QTimerEvent* event) {
    for (const auto& [id, armed] : m_timers) {
        if (armed.qtTimerId == event->timerId()) {
            const unsigned firedId = id; // the handler may kill or re-arm it
            m_onTimer(firedId);
            return;
        }
    }
}
