#include "history/RecordCodec.h"

#include "core/Json.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace quiro::RecordCodec {

namespace {
bool missing(const QJsonValue& value)
{
    return value.isUndefined() || value.isNull();
}
} // namespace

QJsonValue date(double unixSeconds)
{
    return QJsonValue(unixSeconds - referenceDateUnixSeconds);
}

QString uuid(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

Field<double> number(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (missing(value))
        return {};
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return {false, std::nullopt};
    return {true, value.toDouble()};
}

Field<double> date(const QJsonObject& object, const QString& key)
{
    Field<double> field = number(object, key);
    if (field.value)
        *field.value += referenceDateUnixSeconds;
    return field;
}

std::optional<qint64> integer(const QJsonValue& value)
{
    if (!Json::isIntegral(value))
        return std::nullopt;
    // The parser keeps integer literals as 64-bit integers, so large counts stay exact; a
    // number that does not fit makes toInteger() fall back to its argument, which two different
    // fallbacks reveal.
    const qint64 exact = value.toInteger(0);
    if (exact != value.toInteger(1))
        return std::nullopt;
    return exact;
}

Field<qint64> integer(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (missing(value))
        return {};
    const auto result = integer(value);
    return {result.has_value(), result};
}

Field<QString> string(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (missing(value))
        return {};
    if (!value.isString())
        return {false, std::nullopt};
    return {true, value.toString()};
}

Field<QUuid> uuid(const QJsonObject& object, const QString& key)
{
    const Field<QString> text = string(object, key);
    if (!text.value)
        return {text.valid, std::nullopt};
    // Only the canonical 36-character form, as the macOS reader accepts; QUuid alone would
    // also take braces.
    static const QRegularExpression canonical(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!canonical.match(*text.value).hasMatch())
        return {false, std::nullopt};
    return {true, QUuid::fromString(*text.value)};
}

Field<QList<TurnRecord>> turns(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (missing(value))
        return {};
    if (!value.isArray())
        return {false, std::nullopt};
    const QJsonArray array = value.toArray();
    QList<TurnRecord> result;
    result.reserve(array.size());
    for (const QJsonValue& entry : array) {
        if (!entry.isObject())
            return {false, std::nullopt};
        auto turn = TurnRecord::fromJson(entry.toObject());
        if (!turn)
            return {false, std::nullopt};
        result.append(std::move(*turn));
    }
    return {true, std::move(result)};
}

QJsonArray turns(const QList<TurnRecord>& turns)
{
    QJsonArray array;
    for (const TurnRecord& turn : turns)
        array.append(turn.toJson());
    return array;
}

bool turnsEncodable(const QList<TurnRecord>& turns)
{
    return std::all_of(turns.begin(), turns.end(),
                       [](const TurnRecord& turn) { return std::isfinite(turn.timestamp); });
}

} // namespace quiro::RecordCodec
