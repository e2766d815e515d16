#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace kltio {
class CInstanceLock;
}

// Keeps the app to one running copy per user. The first copy holds a lock on a file in a
// folder private to the user and listens on a local socket beside it; a later start finds
// the lock taken, hands its request (come forward, and maybe a file to open) to the running
// copy over the socket and ends. The folder is the user's runtime folder, or a private
// folder of the user's own when the runtime folder is missing, not the user's or open to
// others (as after su); when neither can be had the app runs without the rule.
class CSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result { First, AnotherRuns, Alone };

    // runtimeDir: the folder to try first; empty for the user's runtime folder. fallbackDir:
    // the one to use when that one is not private; empty for klt-<uid> in the temporary
    // folder.
    explicit CSingleInstance(const QString& name, const QString& runtimeDir = QString(),
                             const QString& fallbackDir = QString());
    ~CSingleInstance() override;

    // First: this is the only copy. AnotherRuns: hand the request over and end. Alone: no
    // private folder or no lock could be had; run without the rule.
    Result Acquire();

    // For a later start: asks the running copy to come forward and, when file is not empty,
    // to open it. False when it could not be reached.
    bool AskRunningCopyToComeForward(const QString& file = QString(), int timeoutMs = 2000);

    // Called in the running copy for each request of a later start, with the file to open
    // (empty when it only has to come forward).
    void SetComeForwardHandler(std::function<void(const QString& file)> handler) {
        m_onComeForward = std::move(handler);
    }

    QString Folder() const { return m_directory; }
    QString SocketPath() const { return m_socketPath; }

private:
    void OnNewConnection();

    QString m_directory;
    QString m_lockPath;
    QString m_socketPath;
    std::unique_ptr<kltio::CInstanceLock> m_pLock;
    QLocalServer* m_pServer = nullptr;
    std::function<void(const QString&)> m_onComeForward;
};
