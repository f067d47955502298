#pragma once

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <optional>

// What the program fixes about the service behind the API base: its paths, the bearer
// credential, and which certificates it trusts for the service's TLS.
namespace quiro::ExternalService {

namespace Path {
inline const QString registerAccount = QStringLiteral("/api/register");
inline const QString login = QStringLiteral("/api/login");
inline const QString refresh = QStringLiteral("/api/refresh");
inline const QString me = QStringLiteral("/me");
inline const QString hint = QStringLiteral("/hint");
inline const QString extract = QStringLiteral("/extract");
inline const QString assist = QStringLiteral("/assist");
inline const QString analyze = QStringLiteral("/analyze");
inline const QString stt = QStringLiteral("/stt");
} // namespace Path

// The base text followed directly by the path (nothing added or removed); absent when the
// result is not an absolute URL with a host.
std::optional<QUrl> endpoint(const QString& base, const QString& pathAndQuery);

// "Bearer " + token, the value of the Authorization header.
QByteArray bearer(const QString& token);

// localhost, 127.0.0.0/8 and ::1.
bool isLoopbackHost(const QString& host);

// The system's CAs; for a loopback host also exactly the local service's certificate
// (~/.quiroai/service/cert.pem) when it exists. TLS errors are never ignored.
QSslConfiguration sslConfigurationFor(const QUrl& url);

// Why a request to the service at `url` got no HTTP answer, in one sentence that says what to do:
// an untrusted certificate is named as such, a time-out as a time-out, anything else as "cannot
// reach", with the local service's start command for a loopback address.
QString unansweredReason(const QUrl& url, QNetworkReply::NetworkError error, const QString& errorString, int timeoutMs);

// A request to `url` with its TLS configuration set and, when a token is given, the
// Authorization header. Every request of the program to the service is built here.
QNetworkRequest request(const QUrl& url, const std::optional<QString>& token = std::nullopt);

} // namespace quiro::ExternalService
