#pragma once

#include <QObject>

#include <memory>

namespace kltapp {
class CTerminationWatch;
}
class CMySingleDocTemplate;

// Ends the app in order when the system asks it to (logout, shutdown, kill, Ctrl+C): on the
// UI thread, a reception is stopped (reader ended, port closed), a history not saved yet is
// kept in the recovery file, and the event loop is left with 128 + the signal's number. No
// question is asked: nobody may be there to answer it.
class CTerminationHandler : public QObject {
public:
    explicit CTerminationHandler(CMySingleDocTemplate& docTemplate);
    ~CTerminationHandler() override;

    // False when the requests could not be watched (they then end the process at once).
    bool IsWatching() const { return m_pWatch != nullptr; }

    // 128 + the signal's number once a request has been handled, else 0. A request handled
    // before the main event loop runs (during a question at start) cannot leave that loop,
    // so the start checks this.
    int ExitCode() const { return m_nExitCode; }

private:
    void OnRequest(int signalNumber);

    CMySingleDocTemplate& m_docTemplate;
    std::unique_ptr<kltapp::CTerminationWatch> m_pWatch;
    int m_nExitCode = 0;
};
