#include "account/JwtExpiry.h"

#include "core/Json.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

namespace quiro::JwtExpiry {

std::optional<double> expiry(const QString& token)
{
    // Empty parts count: "a..c" still has three parts, with an empty payload.
    const QStringList parts = token.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return std::nullopt;
    QByteArray payload = parts.at(1).toUtf8();
    payload.replace('-', '+').replace('_', '/');
    while (payload.size() % 4 != 0)
        payload.append('=');
    const auto decoded = QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const auto claims = Json::parseObject(*decoded);
    if (!claims)
        return std::nullopt;
    const QJsonValue exp = claims->value(QLatin1String("exp"));
    if (!exp.isDouble())
        return std::nullopt;
    return exp.toDouble();
}

std::optional<double> refreshDelaySeconds(const QString& token, double nowSeconds)
{
    const auto expiresAt = expiry(token);
    if (!expiresAt)
        return std::nullopt;
    const double delay = *expiresAt - renewalMarginSeconds - nowSeconds;
    if (delay <= 0)
        return 0.0;
    return std::min(delay, longestWaitSeconds);
}

std::optional<double> delayAfterRenewalSeconds(const QString& token, double nowSeconds)
{
    const auto delay = refreshDelaySeconds(token, nowSeconds);
    if (!delay || *delay > 0)
        return delay;
    const double halfRemaining = (*expiry(token) - nowSeconds) / 2.0;
    return std::clamp(halfRemaining, shortestWaitAfterRenewalSeconds, longestWaitSeconds);
}

} // namespace quiro::JwtExpiry
