#pragma once

#include <QObject>
#include <QSslServer>
#include <QTcpServer>

#include <vector>

class QTcpSocket;

namespace quiro::service {

class HttpConnection;

// The open connections of the service and what each may hold. Every accepted socket is admitted
// here before the HTTP server sees it. Beyond the cap the connection idle the longest is closed to
// make room; when none is idle the newcomer is answered 503 and closed, so a client learns at
// once why, instead of waiting on a connection nobody reads.
class ConnectionLimiter final : public QObject {
    Q_OBJECT

public:
    struct Settings {
        int maxConnections = 64;
        int requestTimeoutMs = 10'000;
        int idleTimeoutMs = 30'000;
    };

    explicit ConnectionLimiter(Settings settings, QObject* parent = nullptr);

    const Settings& settings() const { return m_settings; }
    // Connections open or still draining.
    int openConnections() const;

    // Makes a listening server keep accepting after running out of descriptors for a moment (Qt
    // stops for good otherwise), and gives a TLS handshake the request deadline.
    void prepare(QTcpServer* server) const;
    void admit(QTcpSocket* socket);
    // `socket` is about to close while its peer may still send: drained, and counted until done.
    void linger(QTcpSocket* socket);

    // The connections the descriptor limit leaves room for: each connection takes a descriptor,
    // each stream one more (its thread's wake-up), and some are kept for the database, the
    // speech model's files and the listening socket. At least 4, at most `requested`.
    static int fitToDescriptors(int requested, int streams);

private:
    void forget(HttpConnection* connection);
    HttpConnection* longestIdle(const HttpConnection* except) const;

    Settings m_settings;
    std::vector<HttpConnection*> m_connections;
    int m_lingering = 0;
};

// A listening server that admits every connection before handing it to the HTTP server.
template <typename Listener> class Admitting final : public Listener {
public:
    explicit Admitting(ConnectionLimiter& limiter)
        : m_limiter(limiter)
    {
        limiter.prepare(this);
    }

    QTcpSocket* nextPendingConnection() override
    {
        QTcpSocket* socket = Listener::nextPendingConnection();
        if (socket)
            m_limiter.admit(socket);
        return socket;
    }

private:
    ConnectionLimiter& m_limiter;
};

using AdmittingTcpServer = Admitting<QTcpServer>;
using AdmittingSslServer = Admitting<QSslServer>;

} // namespace quiro::service
