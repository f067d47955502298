#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace quiro::service {

// What an endpoint answers, independent of the HTTP server that writes it: a status and a JSON
// object. Errors always carry a human-readable "detail", which the app shows as it stands.
struct ApiReply {
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    int status = 200;
    QJsonObject body;
    Headers headers;

    static ApiReply ok(QJsonObject body) { return {200, std::move(body), {}}; }
    static ApiReply error(int status, const QString& detail)
    {
        return {status, QJsonObject{{QStringLiteral("detail"), detail}}, {}};
    }
};

// Largest request body or WebSocket message the service accepts.
inline constexpr qint64 maxBodyBytes = 1024 * 1024;

// The body of a JSON request: a JSON object, or the 400 that explains why it is not one.
struct JsonBody {
    std::optional<QJsonObject> object;
    ApiReply error;
};
JsonBody parseJsonBody(const QByteArray& body);

// Reads a required string member; on a missing or wrongly typed member fills `error` with a 422.
std::optional<QString> requireString(const QJsonObject& object, const QString& key, ApiReply& error);
// Reads an optional string member ("" when absent); a member of another type is a 422.
std::optional<QString> optionalString(const QJsonObject& object, const QString& key, ApiReply& error);
// Reads an optional number member; a member of another type is a 422.
std::optional<std::optional<double>> optionalNumber(const QJsonObject& object, const QString& key, ApiReply& error);

} // namespace quiro::service
