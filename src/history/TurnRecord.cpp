#include "history/TurnRecord.h"

#include "history/RecordCodec.h"

namespace quiro {

QString TurnRecord::speakerName(const QString& tag)
{
    if (tag == managerTag)
        return QStringLiteral("You");
    if (tag == clientTag)
        return QStringLiteral("Them");
    return tag;
}

QJsonObject TurnRecord::toJson() const
{
    return QJsonObject{
        {QStringLiteral("speaker"), speaker},
        {QStringLiteral("text"), text},
        {QStringLiteral("timestamp"), RecordCodec::date(timestamp)},
    };
}

std::optional<TurnRecord> TurnRecord::fromJson(const QJsonObject& object)
{
    const auto speaker = RecordCodec::string(object, QStringLiteral("speaker"));
    const auto text = RecordCodec::string(object, QStringLiteral("text"));
    const auto timestamp = RecordCodec::date(object, QStringLiteral("timestamp"));
    if (!speaker.value || !text.value || !timestamp.value)
        return std::nullopt;
    return TurnRecord{*speaker.value, *text.value, *timestamp.value};
}

} // namespace quiro
