#include "history/SessionCheckpoint.h"

#include "core/Json.h"
#include "history/RecordCodec.h"

#include <cmath>

namespace quiro {

namespace {
const QString startedAtKey = QStringLiteral("startedAt");
const QString turnsKey = QStringLiteral("turns");
const QString savedAtKey = QStringLiteral("savedAt");
} // namespace

SessionCheckpoint SessionCheckpoint::make(double startedAt, QList<TurnRecord> turns, const Clock& clock)
{
    return SessionCheckpoint{startedAt, std::move(turns), clock.now()};
}

QJsonObject SessionCheckpoint::toJson() const
{
    return QJsonObject{
        {startedAtKey, RecordCodec::date(startedAt)},
        {turnsKey, RecordCodec::turns(turns)},
        {savedAtKey, RecordCodec::date(savedAt)},
    };
}

std::optional<SessionCheckpoint> SessionCheckpoint::fromJson(const QJsonObject& object)
{
    const auto startedAt = RecordCodec::date(object, startedAtKey);
    auto turns = RecordCodec::turns(object, turnsKey);
    const auto savedAt = RecordCodec::date(object, savedAtKey);
    if (!startedAt.value || !turns.value || !savedAt.value)
        return std::nullopt;
    return SessionCheckpoint{*startedAt.value, std::move(*turns.value), *savedAt.value};
}

std::optional<QByteArray> SessionCheckpoint::encode() const
{
    if (!std::isfinite(startedAt) || !std::isfinite(savedAt) || !RecordCodec::turnsEncodable(turns))
        return std::nullopt;
    return Json::compact(toJson());
}

std::optional<SessionCheckpoint> SessionCheckpoint::decode(const QByteArray& bytes)
{
    const auto object = Json::parseObject(bytes);
    if (!object)
        return std::nullopt;
    return fromJson(*object);
}

} // namespace quiro
