#include "gui/app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray COME_FORWARD = "come-forward\n";

// A folder only this user can reach: the runtime folder, or failing that a private folder
// of our own under the temporary folder.
QString PrivateFolder(const QString& requested) {
    QString folder = requested;
    if (folder.isEmpty()) {
        folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    }
    if (folder.isEmpty()) {
        folder = QDir::tempPath() + QStringLiteral("/klt-%1").arg(::getuid());
    }
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 0077) != 0) {
        return QString();
    }
    return folder;
}

} // namespace

CSingleInstance::CSingleInstance(const QString& name, const QString& runtimeDir) {
    m_directory = PrivateFolder(runtimeDir);
    if (!m_directory.isEmpty()) {
        m_lockPath = m_directory + QStringLiteral("/klt-%1.lock").arg(name);
        m_socketPath = m_directory + QStringLiteral("/klt-%1.socket").arg(name);
    }
}

CSingleInstance::~CSingleInstance() {
    if (m_pServer) {
        m_pServer->close();
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd); // releases the lock
    }
}

CSingleInstance::Result CSingleInstance::Acquire() {
    if (m_directory.isEmpty()) {
        return Result::Failed;
    }
    m_lockFd = ::open(QFile::encodeName(m_lockPath).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0) {
        return Result::Failed;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
        return errno == EWOULDBLOCK ? Result::AnotherRuns : Result::Failed;
    }
    // We hold the lock, so a socket left behind is a crashed copy's.
    QLocalServer::removeServer(m_socketPath);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    if (!m_pServer->listen(m_socketPath)) {
        // Still the only copy; later starts just cannot bring it forward.
        delete m_pServer;
        m_pServer = nullptr;
    }
    return Result::First;
}

bool CSingleInstance::AskRunningCopyToComeForward(int timeoutMs) {
    if (m_socketPath.isEmpty()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    socket.write(COME_FORWARD);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                return;
            }
            if (socket->readLine(64) == COME_FORWARD && m_onComeForward) {
                m_onComeForward();
            }
            socket->disconnectFromServer();
        });
    }
}
