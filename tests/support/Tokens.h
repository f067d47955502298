#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace quiro::test {

// A three-part token whose payload is exactly `payload` (base64url without padding).
inline QString tokenWithPayload(const QByteArray& payload)
{
    return QString::fromLatin1("eyJhbGciOiJIUzI1NiJ9." +
                               payload.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals) +
                               ".c2lnbmF0dXJl");
}

inline QString tokenExpiringAt(double expSeconds)
{
    return tokenWithPayload(
        QJsonDocument(QJsonObject{{"sub", "1"}, {"exp", expSeconds}}).toJson(QJsonDocument::Compact));
}

} // namespace quiro::test
