#include "app/cli/ServiceCheck.h"

#include "core/ExternalService.h"
#include "core/Json.h"
#include "core/Paths.h"

#include <QCoro/QCoroNetworkReply>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <algorithm>

namespace quiro::cli::ServiceCheck {

namespace {

// "; the rules took 2 of 7 requests (last: HTTP 429 from the model server)"
QString fallbacks(const QJsonObject& status, int total, const QString& by, const QString& what)
{
    const int fallbacks = status.value(QLatin1String("fallbacks")).toInt();
    if (fallbacks == 0)
        return QString();
    return QStringLiteral("; %1 took %2 of %3 %4 (last: %5)")
        .arg(by)
        .arg(fallbacks)
        .arg(total)
        .arg(what, status.value(QLatin1String("last_fallback")).toString());
}

std::optional<Provider> coach(const QJsonObject& status)
{
    const QString kind = status.value(QLatin1String("kind")).toString();
    if (kind == QLatin1String("rules"))
        return Provider{QStringLiteral("the service's own rules (no language model configured)")};
    if (kind != QLatin1String("model"))
        return std::nullopt;
    const int answers = status.value(QLatin1String("answers")).toInt();
    const int total = answers + status.value(QLatin1String("fallbacks")).toInt();
    return Provider{QStringLiteral("language model \"%1\" at %2")
                            .arg(status.value(QLatin1String("model")).toString(),
                                 status.value(QLatin1String("base_url")).toString()) +
                        fallbacks(status, total, QStringLiteral("the rules"), QStringLiteral("requests")),
                    answers == 0 && total > 0};
}

std::optional<Provider> speech(const QJsonObject& status)
{
    const QString kind = status.value(QLatin1String("kind")).toString();
    const QString languages = status.value(QLatin1String("languages")).toVariant().toStringList().join(u", ");
    if (kind == QLatin1String("pocketsphinx"))
        return Provider{QStringLiteral("pocketsphinx on the service (%1)").arg(languages)};
    if (kind != QLatin1String("upstream"))
        return std::nullopt;
    const int streams = status.value(QLatin1String("streams")).toInt();
    const int fellBack = status.value(QLatin1String("fallbacks")).toInt();
    return Provider{QStringLiteral("hosted recognizer at %1 for %2; pocketsphinx when it cannot be reached")
                            .arg(status.value(QLatin1String("url")).toString(), languages) +
                        fallbacks(status, streams, QStringLiteral("pocketsphinx"), QStringLiteral("streams")),
                    streams > 0 && fellBack == streams};
}

// What the service says of its coach and recognizer in a "/health" body.
Result answered(const QString& detail, const QByteArray& health)
{
    const QJsonObject status = Json::parseObject(health).value_or(QJsonObject());
    Result result;
    result.answers = true;
    result.detail = detail;
    result.coach = coach(status.value(QLatin1String("coach")).toObject());
    result.speech = speech(status.value(QLatin1String("speech")).toObject());
    result.speechLanguages = status.value(QLatin1String("speech_languages")).toVariant().toStringList();
    return result;
}

} // namespace

bool servesLanguage(const QStringList& served, const QString& language)
{
    const QString requested = language.trimmed().toLower().replace(QLatin1Char('_'), QLatin1Char('-'));
    const QString base = requested.section(QLatin1Char('-'), 0, 0);
    return std::any_of(served.cbegin(), served.cend(), [&](const QString& offered) {
        return offered.compare(requested, Qt::CaseInsensitive) == 0 || offered == base;
    });
}

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
    co_return answered(QStringLiteral("%1 answers (HTTP %2)%3")
                           .arg(config.apiBase)
                           .arg(status.toInt())
                           .arg(tls ? QStringLiteral(" over trusted TLS") : QStringLiteral(", unencrypted")),
                       reply->readAll());
}

} // namespace quiro::cli::ServiceCheck
