#include "service/http/RequestSizeGuard.h"

#include "core/Log.h"

#include <QTcpSocket>
#include <QTimer>

namespace quiro::service {

namespace {

constexpr char bytesProperty[] = "quiroRequestBytes";
// What a refused client may still send while it finishes its upload, so it reads the 413
// instead of a reset connection.
constexpr qint64 maxDrainBytes = 64 * 1024 * 1024;
constexpr int drainTimeoutMs = 10'000;

void refuse(QTcpSocket* socket)
{
    // The HTTP server must not parse the rest: its slot is connected after this one and a
    // disconnected slot is skipped even during the current emission.
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    const QByteArray body = R"({"detail":"The request body is larger than 1 MiB"})";
    socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    Log::line(QStringLiteral("Service"), QStringLiteral("request over 1 MiB 413 0 ms"));

    auto drained = std::make_shared<qint64>(0);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, drained] {
        *drained += socket->readAll().size();
        if (*drained > maxDrainBytes)
            socket->abort();
    });
    QTimer::singleShot(drainTimeoutMs, socket, [socket] { socket->disconnectFromHost(); });
}

} // namespace

void RequestSizeGuard::watch(QTcpSocket* socket)
{
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
        // The HTTP server reads everything available on each signal, so what is available now
        // arrived since the last one.
        const qint64 received = socket->property(bytesProperty).toLongLong() + socket->bytesAvailable();
        socket->setProperty(bytesProperty, received);
        if (received > maxRequestBytes)
            refuse(socket);
    });
}

void RequestSizeGuard::requestDone(QTcpSocket* socket)
{
    socket->setProperty(bytesProperty, qint64(0));
}

QTcpSocket* GuardedTcpServer::nextPendingConnection()
{
    QTcpSocket* socket = QTcpServer::nextPendingConnection();
    if (socket)
        RequestSizeGuard::watch(socket);
    return socket;
}

QTcpSocket* GuardedSslServer::nextPendingConnection()
{
    QTcpSocket* socket = QSslServer::nextPendingConnection();
    if (socket)
        RequestSizeGuard::watch(socket);
    return socket;
}

} // namespace quiro::service
