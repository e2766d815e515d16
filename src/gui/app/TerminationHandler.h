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

private:
    void OnRequest(int signalNumber);

    CMySingleDocTemplate& m_docTemplate;
    std::unique_ptr<kltapp::CTerminationWatch> m_pWatch;
    bool m_bEnding = false;
};
