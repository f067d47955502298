#include "service/ApiReply.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace quiro::service {

JsonBody parseJsonBody(const QByteArray& body)
{
    if (body.trimmed().isEmpty())
        return {std::nullopt, ApiReply::error(400, QStringLiteral("The request body must be a JSON object"))};
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {std::nullopt, ApiReply::error(400, QStringLiteral("The request body is not valid JSON: ") +
                                                       parseError.errorString())};
    if (!document.isObject())
        return {std::nullopt, ApiReply::error(400, QStringLiteral("The request body must be a JSON object"))};
    return {document.object(), {}};
}

std::optional<QString> requireString(const QJsonObject& object, const QString& key, ApiReply& error)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        error = ApiReply::error(422, QStringLiteral("\"%1\" is required").arg(key));
        return std::nullopt;
    }
    if (!value.isString()) {
        error = ApiReply::error(422, QStringLiteral("\"%1\" must be a string").arg(key));
        return std::nullopt;
    }
    return value.toString();
}

std::optional<QString> optionalString(const QJsonObject& object, const QString& key, ApiReply& error)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return QString();
    if (!value.isString()) {
        error = ApiReply::error(422, QStringLiteral("\"%1\" must be a string").arg(key));
        return std::nullopt;
    }
    return value.toString();
}

std::optional<std::optional<double>> optionalNumber(const QJsonObject& object, const QString& key, ApiReply& error)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<double>();
    if (!value.isDouble()) {
        error = ApiReply::error(422, QStringLiteral("\"%1\" must be a number").arg(key));
        return std::nullopt;
    }
    return std::optional<double>(value.toDouble());
}

} // namespace quiro::service
