#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>

// Strict readers for loosely typed JSON: a value of another type than the one asked for counts
// as absent, and a list counts only when every entry has the asked type.
namespace quiro::Json {

// JSON cannot tell 72 from 72.0: "integral" means a number without a fractional part.
bool isIntegral(const QJsonValue& value);

std::optional<QString> string(const QJsonObject& object, const QString& key);
std::optional<QStringList> stringList(const QJsonValue& value);
std::optional<QJsonObject> object(const QJsonObject& object, const QString& key);

// Parses bytes as a JSON object; anything else (invalid JSON, an array, a scalar) is absent.
std::optional<QJsonObject> parseObject(const QByteArray& bytes);

QByteArray compact(const QJsonObject& object);

} // namespace quiro::Json
