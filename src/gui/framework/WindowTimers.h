#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>

// Window timers told apart by a number, as the main window uses them: a timer fires every
// period until it is killed, and setting a timer that is already set restarts its period.
// Events go to one handler on the owner's (the UI) thread.
//
// SetTimer may be called from any thread; a call from another thread is carried out on the
// UI thread, in order with the caller's other posted work. A worker that must not arm timers
// once it has been told to stop tags its calls with the generation it was started in:
// NewGeneration() makes every such call still on its way void.
class CWindowTimers : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(unsigned id)>;

    explicit CWindowTimers(Handler onTimer, QObject* parent = nullptr);

    void SetTimer(unsigned id, unsigned periodMs);
    void SetTimer(unsigned id, unsigned periodMs, std::uint64_t generation);
    void KillTimer(unsigned id); // UI thread only

    bool IsTimerSet(unsigned id) const; // UI thread only
    int TimerPeriod(unsigned id) const; // -1 when not set

    std::uint64_t Generation() const { return m_generation.load(); }
    std::uint64_t NewGeneration() { return ++m_generation; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void Arm(unsigned id, unsigned periodMs);

    struct Armed {
        int qtTimerId;
        int periodMs;
    };
    Handler m_onTimer;
    std::map<unsigned, Armed> m_timers;
    std::atomic<std::uint64_t> m_generation{0};
};
