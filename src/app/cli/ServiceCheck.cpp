#include "app/cli/ServiceCheck.h"

#include "core/ExternalService.h"
#include "core/Paths.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

namespace quiro::cli::ServiceCheck {

QCoro::Task<Result> run(Config config, int timeoutMs)
{
    const std::optional<QUrl> base = config.apiURL();
    const std::optional<QUrl> url = ExternalService::endpoint(config.apiBase, QStringLiteral("/health"));
    if (!base || !url)
        co_return Result{
            false,
            QStringLiteral("API_BASE \"%1\" is not a URL — fix it in %2").arg(config.apiBase, Paths::userEnvFile())};
    QNetworkAccessManager network;
    network.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = network.get(ExternalService::request(*url));
    reply->setParent(&network);
    QPointer<QNetworkReply> guard(reply);
    co_await reply;
    if (!guard)
        co_return Result{false, QStringLiteral("the request to %1 was lost").arg(config.apiBase)};
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        co_return Result{false,
                         ExternalService::unansweredReason(*url, reply->error(), reply->errorString(), timeoutMs)};
    // Any HTTP answer means the service is there and the TLS handshake succeeded.
    const bool tls = base->scheme() == QLatin1String("https");
    co_return Result{true, QStringLiteral("%1 answers (HTTP %2)%3")
                               .arg(config.apiBase)
                               .arg(status.toInt())
                               .arg(tls ? QStringLiteral(" over trusted TLS") : QStringLiteral(", unencrypted"))};
}

} // namespace quiro::cli::ServiceCheck
