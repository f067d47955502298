#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace quiro::test {

// base64url without padding, as tokens carry it.
inline QByteArray base64Url(const QByteArray& bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// A three-part token whose payload is exactly `payload`.
inline QString tokenWithPayload(const QByteArray& payload)
{
    return QString::fromLatin1("eyJhbGciOiJIUzI1NiJ9." + base64Url(payload) + ".c2lnbmF0dXJl");
}

inline QString tokenExpiringAt(double expSeconds)
{
    return tokenWithPayload(
        QJsonDocument(QJsonObject{{"sub", "1"}, {"exp", expSeconds}}).toJson(QJsonDocument::Compact));
}

} // namespace quiro::test
