#pragma once

#include "service/ApiReply.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QString>

#include <map>
#include <optional>

namespace quiro::service {

class AccountService;
class SpeechModel;

// quiro-service's HTTP and WebSocket front: routes each request to the account, coach or
// speech side, enforces the bearer token and the size limits, and logs one line per request
// (method, path, status, milliseconds), never a body or a header.
class ServiceServer final : public QAbstractHttpServer {
    Q_OBJECT

public:
    // Concurrent "/stt" streams one account may hold.
    static constexpr int maxStreamsPerAccount = 8;

    ServiceServer(AccountService& accounts, SpeechModel& speech, QObject* parent = nullptr);

    // Listens on the address, with TLS when a configuration is given; 0 on failure with `error`
    // saying why.
    quint16 start(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls,
                  QString* error);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    ApiReply dispatch(const QHttpServerRequest& request, bool* handled);
    void respond(const QHttpServerRequest& request, QTcpSocket* socket, const ApiReply& reply, qint64 elapsedMs);
    void onWebSocket();

    AccountService& m_accounts;
    SpeechModel& m_speech;
    std::map<qint64, int> m_streamsPerAccount;
};

} // namespace quiro::service
