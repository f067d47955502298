#include "history/PostCallAnalysis.h"

#include "core/Json.h"
#include "history/RecordCodec.h"

#include <QJsonArray>

namespace quiro {

QString Objection::displayType() const
{
    if (!type)
        return QStringLiteral("\u2014");
    // Each word starts upper case and continues lower case ("price OBJECTION" → "Price Objection");
    // the service's snake-case categories read as words ("info_stall" → "Info Stall").
    QString text = type->toLower().replace(QLatin1Char('_'), QLatin1Char(' '));
    bool wordStart = true;
    for (QChar& c : text) {
        if (c.isSpace()) {
            wordStart = true;
        } else if (wordStart) {
            c = c.toUpper();
            wordStart = false;
        }
    }
    return text;
}

Objection Objection::fromJson(const QJsonObject& object)
{
    Objection objection;
    objection.type = Json::string(object, QStringLiteral("type"));
    objection.quote = Json::string(object, QStringLiteral("quote")).value_or(QString());
    const QJsonValue handled = object.value(QStringLiteral("handled"));
    objection.handled = handled.isBool() && handled.toBool();
    objection.note = Json::string(object, QStringLiteral("note")).value_or(QString());
    return objection;
}

namespace {
std::optional<QList<Objection>> objectionList(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    QList<Objection> list;
    for (const QJsonValue& entry : value.toArray()) {
        if (!entry.isObject())
            return std::nullopt;
        list.append(Objection::fromJson(entry.toObject()));
    }
    return list;
}
} // namespace

PostCallAnalysis PostCallAnalysis::read(const QJsonObject& analysis)
{
    PostCallAnalysis result;
    result.score = RecordCodec::integer(analysis.value(QStringLiteral("score")));
    result.summary = Json::string(analysis, QStringLiteral("summary"));
    result.strengths = Json::stringList(analysis.value(QStringLiteral("strengths")));
    result.improvements = Json::stringList(analysis.value(QStringLiteral("improvements")));
    result.missedOpportunities = Json::stringList(analysis.value(QStringLiteral("missed_opportunities")));
    result.objections = objectionList(analysis.value(QStringLiteral("objections")));
    result.nextSteps = Json::stringList(analysis.value(QStringLiteral("next_steps")));
    result.talkListenNote = Json::string(analysis, QStringLiteral("talk_listen_note"));
    return result;
}

} // namespace quiro
