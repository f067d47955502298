#pragma once

#include "service/ApiReply.h"
#include "service/http/ServiceOptions.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QFuture>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QSslConfiguration>
#include <QString>

#include <map>
#include <optional>

namespace quiro::service {

class AccountService;
class Coach;
class ConnectionLimiter;
class SpeechService;

// quiro-service's HTTP and WebSocket front: routes each request to the account, coach or
// speech side, enforces the bearer token and the size limits, and logs one line per request
// (method, path, status, milliseconds), never a body or a header.
//
// The event loop only routes: password hashing, the coach's slow work and its language model are
// answered when done (in request order per connection), so a slow request never holds up the
// others.
class ServiceServer final : public QAbstractHttpServer {
    Q_OBJECT

public:
    // Concurrent "/stt" streams one account may hold.
    static constexpr int maxStreamsPerAccount = 8;

    ServiceServer(AccountService& accounts, Coach& coach, SpeechService& speech, const ServiceLimits& limits,
                  QObject* parent = nullptr);

    // Listens on the address, with TLS when a configuration is given; 0 on failure with `error`
    // saying why.
    quint16 start(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls,
                  QString* error);

    // The cap on open connections in force: the configured one, or less when the descriptor
    // limit leaves less room.
    int maxConnections() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // A request copied out of Qt's request object, which the next request on the connection reuses.
    struct Call {
        QHttpServerRequest::Method method;
        QString path;
        QByteArray authorization;
        QByteArray body;
        bool fromWebPage = false;
    };

    QFuture<ApiReply> dispatch(const Call& call);
    // "status": "ok", which coach and which recognizer answer, and how often their fallbacks did.
    QJsonObject health() const;
    void answerWhenDone(QTcpSocket* socket, const Call& call, QFuture<ApiReply> reply, const QElapsedTimer& timer);
    void onWebSocket();

    AccountService& m_accounts;
    Coach& m_coach;
    SpeechService& m_speech;
    const ServiceLimits m_limits;
    ConnectionLimiter* m_connections; // child
    std::map<qint64, int> m_streamsPerAccount;
    int m_streams = 0;
};

} // namespace quiro::service
