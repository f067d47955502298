#pragma once

#include "ServiceProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStringList>
#include <QWebSocket>

#include <optional>

// A raw "/stt" stream of a service, for what the app's client never does: it collects the text
// messages and the close, and trusts the service's own certificate.
struct SttStream {
    QWebSocket socket;
    QStringList messages;
    QSignalSpy closed{&socket, &QWebSocket::disconnected};

    // A web page's stream carries its page's origin.
    explicit SttStream(const QString& origin = QString())
        : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket,
                         [this](const QString& message) { messages << message; });
    }
    void open(const ServiceProcess& service, const std::optional<QString>& token,
              const QString& query = QStringLiteral("?lang=en&rate=16000"))
    {
        QNetworkRequest request(QUrl(service.wsBase() + QStringLiteral("/stt") + query));
        if (token)
            request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.setSslConfiguration(tls);
        socket.open(request);
    }
    // The message at `index` (from the end when negative) as JSON.
    QJsonValue message(qsizetype index) const
    {
        const QString text = messages.at(index < 0 ? messages.size() + index : index);
        return QJsonDocument::fromJson(text.toUtf8()).object();
    }
};
