#include "core/ExternalService.h"

#include "core/Paths.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>

namespace quiro::ExternalService {

std::optional<QUrl> endpoint(const QString& base, const QString& pathAndQuery)
{
    const QUrl url(base + pathAndQuery, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

QByteArray bearer(const QString& token)
{
    return "Bearer " + token.toUtf8();
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QSslConfiguration sslConfigurationFor(const QUrl& url)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!isLoopbackHost(url.host()))
        return configuration;
    // Set on every request, not only after a failure: Qt caches a failed handshake per host.
    QFile certificateFile(Paths::serviceCertFile());
    if (!certificateFile.open(QIODevice::ReadOnly))
        return configuration;
    const auto localCertificates = QSslCertificate::fromData(certificateFile.readAll(), QSsl::Pem);
    if (!localCertificates.isEmpty())
        configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() + localCertificates);
    return configuration;
}

QString unansweredReason(const QUrl& url, QNetworkReply::NetworkError error, const QString& errorString, int timeoutMs)
{
    const QString base = url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString();
    const QString where = QStringLiteral("the service at %1").arg(base);
    const bool local = isLoopbackHost(url.host());
    const QString remedy = local ? QStringLiteral("start the local service (quiro-service, or scripts/run)")
                                 : QStringLiteral("check your network, or API_BASE in %1").arg(Paths::userEnvFile());
    switch (error) {
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("%1 has a certificate we do not trust (%2) — %3")
            .arg(where, errorString,
                 local ? QStringLiteral("the local service's certificate is %1; restart the service to recreate it")
                             .arg(Paths::serviceCertFile())
                       : QStringLiteral("check API_BASE in %1").arg(Paths::userEnvFile()));
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("%1 did not answer within %2 s — %3").arg(where).arg(timeoutMs / 1000).arg(remedy);
    default:
        return QStringLiteral("cannot reach %1 (%2) — %3").arg(where, errorString, remedy);
    }
}

QNetworkRequest request(const QUrl& url, const std::optional<QString>& token)
{
    QNetworkRequest request(url);
    if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("wss"))
        request.setSslConfiguration(sslConfigurationFor(url));
    if (token)
        request.setRawHeader("Authorization", bearer(*token));
    return request;
}

} // namespace quiro::ExternalService
