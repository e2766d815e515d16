#pragma once

#include <QObject>

#include <functional>
#include <map>

// Window timers told apart by a number, as the main window uses them: a timer fires every
// period until it is killed, and setting a timer that is already set restarts its period.
// Events go to one handler. Every call is made on the owner's (the UI) thread.
class CWindowTimers : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(unsigned id)>;

    explicit CWindowTimers(Handler onTimer, QObject* parent = nullptr);

    void SetTimer(unsigned id, unsigned periodMs);
    void KillTimer(unsigned id);

    bool IsTimerSet(unsigned id) const;
    int TimerPeriod(unsigned id) const; // -1 when not set

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Armed {
        int qtTimerId;
        int periodMs;
    };
    Handler m_onTimer;
    std::map<unsigned, Armed> m_timers;
};
