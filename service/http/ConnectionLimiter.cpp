#include "service/http/ConnectionLimiter.h"

#include "core/Log.h"
#include "service/http/HttpConnection.h"
#include "service/http/LingeringClose.h"

#include <QDir>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#include <sys/resource.h>

namespace quiro::service {

namespace {

constexpr int reservedDescriptors = 16;
constexpr int minConnections = 4;
constexpr int resumeAcceptingMs = 100;

} // namespace

ConnectionLimiter::ConnectionLimiter(Settings settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
{
}

int ConnectionLimiter::openConnections() const
{
    const auto open = std::count_if(m_connections.begin(), m_connections.end(),
                                    [](const HttpConnection* connection) { return !connection->isClosing(); });
    return int(open) + m_lingering;
}

void ConnectionLimiter::prepare(QTcpServer* server) const
{
    if (auto* secure = qobject_cast<QSslServer*>(server))
        secure->setHandshakeTimeout(m_settings.requestTimeoutMs);
    connect(server, &QTcpServer::acceptError, server, [server](QAbstractSocket::SocketError) {
        Log::line(QStringLiteral("Service"),
                  QStringLiteral("cannot accept a connection: %1; trying again shortly").arg(server->errorString()));
        QTimer::singleShot(resumeAcceptingMs, server, [server] { server->resumeAccepting(); });
    });
}

void ConnectionLimiter::admit(QTcpSocket* socket)
{
    auto* connection = new HttpConnection(socket, *this);
    m_connections.push_back(connection);
    connect(connection, &QObject::destroyed, this, [this, connection] { forget(connection); });
    if (openConnections() <= m_settings.maxConnections)
        return;
    if (HttpConnection* idle = longestIdle(connection)) {
        idle->closeIdle();
        return;
    }
    // After the HTTP server has connected to the socket, so it also cleans this one up.
    QPointer<HttpConnection> refused(connection);
    const int limit = m_settings.maxConnections;
    QTimer::singleShot(0, connection, [refused, limit] {
        if (refused)
            refused->refuseConnection(
                503,
                QStringLiteral("The service has too many open connections (at most %1); try again in a moment")
                    .arg(limit),
                {{"Retry-After", "1"}});
    });
}

void ConnectionLimiter::linger(QTcpSocket* socket)
{
    LingeringClose* lingering = LingeringClose::begin(socket, m_settings.requestTimeoutMs, this);
    if (!lingering)
        return;
    ++m_lingering;
    connect(lingering, &QObject::destroyed, this, [this] { --m_lingering; });
}

void ConnectionLimiter::forget(HttpConnection* connection)
{
    m_connections.erase(std::remove(m_connections.begin(), m_connections.end(), connection), m_connections.end());
}

HttpConnection* ConnectionLimiter::longestIdle(const HttpConnection* except) const
{
    HttpConnection* longest = nullptr;
    for (HttpConnection* connection : m_connections) {
        if (connection != except && connection->isIdle() &&
            (!longest || connection->idleForMs() > longest->idleForMs()))
            longest = connection;
    }
    return longest;
}

int ConnectionLimiter::fitToDescriptors(int requested, int streams)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return requested;
    const auto open = qsizetype(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    const qint64 room = qint64(limit.rlim_cur) - open - reservedDescriptors - streams;
    return int(std::clamp<qint64>(room, minConnections, requested));
}

} // namespace quiro::service
