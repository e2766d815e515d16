#include "gui/app/SingleInstance.h"

#include "core/io/InstanceLock.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

// One request a line: "come-forward", or "open " and the file's name (its bytes in base64,
// so any name fits on one line).
const QByteArray COME_FORWARD = "come-forward\n";
const QByteArray OPEN = "open ";
constexpr qint64 MAX_REQUEST = 64 * 1024;

bool IsPrivate(const QString& folder, bool create) {
    return !folder.isEmpty() &&
           kltio::IsPrivateFolder(QFile::encodeName(folder).toStdString(), create);
}

} // namespace

CSingleInstance::CSingleInstance(const QString& name, const QString& runtimeDir,
                                 const QString& fallbackDir) {
    const QString runtime =
        runtimeDir.isEmpty() ? qEnvironmentVariable("XDG_RUNTIME_DIR") : runtimeDir;
    const QString fallback =
        fallbackDir.isEmpty()
            ? QFile::decodeName(QByteArray::fromStdString(kltio::FallbackPrivateFolder()))
            : fallbackDir;
    if (IsPrivate(runtime, false)) {
        m_directory = runtime;
    } else if (IsPrivate(fallback, true)) {
        m_directory = fallback;
    }
    if (!m_directory.isEmpty()) {
        m_lockPath = m_directory + QStringLiteral("/klt-%1.lock").arg(name);
        m_socketPath = m_directory + QStringLiteral("/klt-%1.socket").arg(name);
    }
}

CSingleInstance::~CSingleInstance() {
    if (m_pServer) {
        m_pServer->close();
    }
}

CSingleInstance::Result CSingleInstance::Acquire() {
    if (m_directory.isEmpty()) {
        return Result::Alone;
    }
    kltio::CInstanceLock::Result result = kltio::CInstanceLock::Result::Failed;
    m_pLock = kltio::CInstanceLock::TryAcquire(QFile::encodeName(m_lockPath).toStdString(), result);
    switch (result) {
    case kltio::CInstanceLock::Result::Acquired:
        break;
    case kltio::CInstanceLock::Result::HeldByOther:
        return Result::AnotherRuns;
    case kltio::CInstanceLock::Result::Failed:
        return Result::Alone;
    }
    // We hold the lock, so a socket left behind is a crashed copy's.
    QLocalServer::removeServer(m_socketPath);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    if (!m_pServer->listen(m_socketPath)) {
        // Still the only copy; later starts just cannot reach it.
        delete m_pServer;
        m_pServer = nullptr;
    }
    return Result::First;
}

bool CSingleInstance::AskRunningCopyToComeForward(const QString& file, int timeoutMs) {
    if (m_socketPath.isEmpty()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    socket.write(file.isEmpty() ? COME_FORWARD : OPEN + QFile::encodeName(file).toBase64() + '\n');
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        socket->setReadBufferSize(MAX_REQUEST);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() >= MAX_REQUEST) {
                    socket->abort(); // no request is that long
                }
                return;
            }
            const QByteArray line = socket->readLine(MAX_REQUEST);
            socket->disconnectFromServer();
            if (!m_onComeForward) {
                return;
            }
            if (line == COME_FORWARD) {
                m_onComeForward(QString());
            } else if (line.startsWith(OPEN) && line.endsWith('\n')) {
                const QByteArray name =
                    QByteArray::fromBase64(line.mid(OPEN.size(), line.size() - OPEN.size() - 1),
                                           QByteArray::AbortOnBase64DecodingErrors);
                if (!name.isEmpty()) {
                    m_onComeForward(QFile::decodeName(name));
                }
            }
        });
    }
}
