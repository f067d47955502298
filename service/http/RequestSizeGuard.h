#pragma once

#include <QSslServer>
#include <QTcpServer>

class QTcpSocket;

namespace quiro::service {

// Qt's HTTP server reads a whole request into memory before the service sees it, so an endless
// body would take all the memory there is. The guard counts the bytes of the request in progress
// on each connection (it sees the data before the HTTP server does) and answers 413 once they
// pass the limit, then drains and closes the connection.
namespace RequestSizeGuard {

// Headers are allowed on top of the 1 MiB body.
inline constexpr qint64 maxRequestBytes = 1024 * 1024 + 64 * 1024;

void watch(QTcpSocket* socket);
// A request was answered: the next one on the connection starts from zero.
void requestDone(QTcpSocket* socket);

} // namespace RequestSizeGuard

// Listening servers that put the guard on every connection before handing it to the HTTP server.
class GuardedTcpServer final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;
    QTcpSocket* nextPendingConnection() override;
};

class GuardedSslServer final : public QSslServer {
public:
    using QSslServer::QSslServer;
    QTcpSocket* nextPendingConnection() override;
};

} // namespace quiro::service
