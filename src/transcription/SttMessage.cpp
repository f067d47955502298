#include "transcription/SttMessage.h"

#include "core/Json.h"
#include "core/Text.h"

#include <QJsonArray>
#include <QJsonObject>

namespace quiro {

namespace {

// A final result's first alternative, when it carries words.
QString finalTranscript(const QJsonObject& message)
{
    const QJsonValue isFinal = message.value(QLatin1String("is_final"));
    if (!isFinal.isBool() || !isFinal.toBool())
        return {};
    const auto channel = Json::object(message, QStringLiteral("channel"));
    if (!channel)
        return {};
    const QJsonArray alternatives = channel->value(QLatin1String("alternatives")).toArray();
    if (alternatives.isEmpty() || !alternatives.first().isObject())
        return {};
    const auto transcript = Json::string(alternatives.first().toObject(), QStringLiteral("transcript"));
    return transcript ? Text::trimmedBlanksAndTabs(*transcript) : QString();
}

} // namespace

SttMessage SttMessage::parse(const QByteArray& utf8)
{
    const auto message = Json::parseObject(utf8);
    if (!message)
        return {};
    const QJsonValue type = message->value(QLatin1String("type"));
    if (type == QLatin1String("Metadata"))
        return {Kind::metadata, {}};
    if (type == QLatin1String("Results")) {
        const QString text = finalTranscript(*message);
        return text.isEmpty() ? SttMessage{} : SttMessage{Kind::finalTranscript, text};
    }
    if (type == QLatin1String("Error")) {
        // Without a readable message the whole text is the best account of what went wrong.
        const auto serverMessage = Json::string(*message, QStringLiteral("message"));
        return {Kind::error, serverMessage ? *serverMessage : QString::fromUtf8(utf8)};
    }
    return {};
}

} // namespace quiro
