#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// Keeps the app to one running copy per user. The first copy holds a lock on a file in the
// user's runtime folder (private to the user) and listens on a local socket beside it; a
// later start finds the lock taken, asks the running copy over the socket to come forward
// and ends. The lock goes with the process, so a copy that crashed blocks nobody.
class CSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result { First, AnotherRuns, Failed };

    // runtimeDir: where lock and socket live; empty for the user's runtime folder.
    explicit CSingleInstance(const QString& name, const QString& runtimeDir = QString());
    ~CSingleInstance() override;

    Result Acquire();

    // For a later start: asks the running copy to come forward. False when it could not be
    // reached (it may still be starting).
    bool AskRunningCopyToComeForward(int timeoutMs = 2000);

    // Called in the running copy when a later start asked it to come forward.
    void SetComeForwardHandler(std::function<void()> handler) {
        m_onComeForward = std::move(handler);
    }

    QString SocketPath() const { return m_socketPath; }

private:
    void OnNewConnection();

    QString m_directory;
    QString m_lockPath;
    QString m_socketPath;
    int m_lockFd = -1;
    QLocalServer* m_pServer = nullptr;
    std::function<void()> m_onComeForward;
};
