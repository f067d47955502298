#include "service/accounts/Jwt.h"

#include "core/Json.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>

#include <sodium.h>

#include <cmath>

namespace quiro::service {

namespace {

constexpr auto base64url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

std::optional<QByteArray> decodePart(const QByteArray& part)
{
    auto decoded =
        QByteArray::fromBase64Encoding(part, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

} // namespace

Jwt::Jwt(QByteArray secret)
    : m_secret(std::move(secret))
{
}

QByteArray Jwt::newSecret()
{
    if (sodium_init() < 0)
        return {};
    QByteArray secret(32, Qt::Uninitialized);
    randombytes_buf(secret.data(), size_t(secret.size()));
    return secret;
}

QByteArray Jwt::sign(const QByteArray& signingInput) const
{
    return QMessageAuthenticationCode::hash(signingInput, m_secret, QCryptographicHash::Sha256);
}

QString Jwt::issue(qint64 accountId, const QString& email, double nowSeconds) const
{
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("HS256")},
                             {QStringLiteral("typ"), QStringLiteral("JWT")}};
    const double issuedAt = std::floor(nowSeconds);
    const QJsonObject payload{
        {QStringLiteral("sub"), QString::number(accountId)},
        {QStringLiteral("email"), email},
        {QStringLiteral("iat"), issuedAt},
        {QStringLiteral("exp"), issuedAt + lifetimeSeconds},
    };
    const QByteArray signingInput =
        Json::compact(header).toBase64(base64url) + '.' + Json::compact(payload).toBase64(base64url);
    return QString::fromLatin1(signingInput + '.' + sign(signingInput).toBase64(base64url));
}

Jwt::Result Jwt::verify(const QString& token, double nowSeconds) const
{
    Result result;
    const QByteArray bytes = token.toLatin1();
    const QList<QByteArray> parts = bytes.split('.');
    if (parts.size() != 3 || token.size() > 4096)
        return result;
    const auto headerBytes = decodePart(parts[0]);
    const auto payloadBytes = decodePart(parts[1]);
    const auto signature = decodePart(parts[2]);
    if (!headerBytes || !payloadBytes || !signature)
        return result;
    const auto header = Json::parseObject(*headerBytes);
    const auto payload = Json::parseObject(*payloadBytes);
    // Only our own algorithm is accepted: a token that names another one ("none" included) is
    // not ours, whatever its signature says.
    if (!header || header->value(QStringLiteral("alg")).toString() != QLatin1String("HS256") || !payload)
        return result;

    const QByteArray expected = sign(parts[0] + '.' + parts[1]);
    if (signature->size() != expected.size() ||
        sodium_memcmp(signature->constData(), expected.constData(), size_t(expected.size())) != 0) {
        result.verdict = Verdict::BadSignature;
        return result;
    }

    bool idOk = false;
    const qint64 accountId = payload->value(QStringLiteral("sub")).toString().toLongLong(&idOk);
    const QJsonValue exp = payload->value(QStringLiteral("exp"));
    if (!idOk || !exp.isDouble())
        return result;
    result.claims = {accountId, payload->value(QStringLiteral("email")).toString(),
                     payload->value(QStringLiteral("iat")).toDouble(), exp.toDouble()};
    result.verdict = nowSeconds < result.claims.expiresAt ? Verdict::Valid : Verdict::Expired;
    return result;
}

} // namespace quiro::service
