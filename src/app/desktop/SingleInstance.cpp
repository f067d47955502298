#include "app/desktop/SingleInstance.h"

#include "core/Paths.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace quiro {

namespace {
const QByteArray showRequest = QByteArrayLiteral("show\n");
// How long a second start keeps trying while the first is still coming up.
constexpr int handOverWaitMs = 3000;
} // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent)
    , m_folder(folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : std::move(folder))
{
    // Only this user may talk to the app.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server.nextPendingConnection()) {
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains(showRequest))
                    emit activationRequested();
                peer->disconnectFromServer();
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim()
{
    if (m_folder.isEmpty() || !Paths::ensurePrivateDir(m_folder)) {
        m_problem = QStringLiteral("no runtime folder to coordinate instances in");
        return Claim::failed;
    }
    const QString socketPath = m_folder + QStringLiteral("/quiro.socket");
    m_lock = std::make_unique<QLockFile>(m_folder + QStringLiteral("/quiro.lock"));
    m_lock->setStaleLockTime(0); // a lock is stale only when its process is gone
    if (m_lock->tryLock(0)) {
        // A socket file left by a crashed instance would make listen() fail.
        QLocalServer::removeServer(socketPath);
        if (!m_server.listen(socketPath)) {
            m_problem = QStringLiteral("cannot listen on %1: %2").arg(socketPath, m_server.errorString());
            return Claim::failed;
        }
        return Claim::first;
    }
    m_lock.reset();
    if (askTheFirst())
        return Claim::handedOver;
    m_problem = QStringLiteral("another Quiro is running but does not answer");
    return Claim::failed;
}

bool SingleInstance::askTheFirst()
{
    const QString socketPath = m_folder + QStringLiteral("/quiro.socket");
    const QDeadlineTimer deadline(handOverWaitMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(200)) {
            socket.write(showRequest);
            return socket.waitForBytesWritten(1000);
        }
        // The first instance holds the lock but may not listen yet.
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

} // namespace quiro
