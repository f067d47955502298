#include "service/llm/CoachPrompt.h"

#include "service/coach/CallAnalyzer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>

namespace quiro::service::CoachPrompt {

namespace {

const QString userMarker = QStringLiteral("\n=== user ===\n");

QString resource(const QString& name)
{
    QFile file(QStringLiteral(":/prompts/%1.txt").arg(name));
    // Compiled into the program: a missing prompt is a broken build, which the tests catch.
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the prompt %s is missing from the service's resources", qPrintable(name));
    return QString::fromUtf8(file.readAll());
}

QJsonArray messages(const QString& name, const QHash<QString, QString>& values)
{
    const QString filled = fill(resource(name), values);
    const qsizetype split = filled.indexOf(userMarker);
    const auto message = [](const char* role, const QString& content) {
        return QJsonObject{{QStringLiteral("role"), QLatin1String(role)}, {QStringLiteral("content"), content}};
    };
    return {message("system", filled.left(split).trimmed()),
            message("user", filled.mid(split + userMarker.size()).trimmed())};
}

QString withoutMiddle(const QString& value)
{
    if (value.size() <= maxValueChars)
        return value;
    // The opening of a call and its end say the most; the note keeps the model from guessing.
    const qsizetype head = maxValueChars / 3;
    const qsizetype tail = maxValueChars - head;
    return value.left(head) + QStringLiteral("\n[… %1 characters left out …]\n").arg(value.size() - head - tail) +
           value.right(tail);
}

QString share(const std::optional<double>& ratio)
{
    if (!ratio || !std::isfinite(*ratio) || *ratio < 0 || *ratio > 1)
        return QStringLiteral("not known");
    return QStringLiteral("%1%").arg(CallAnalyzer::percent(*ratio));
}

QString number(const std::optional<double>& value, const QString& unit = QString())
{
    if (!value || !std::isfinite(*value))
        return QStringLiteral("not known");
    return QString::number(*value, 'g', 10) + unit;
}

QString text(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 10);
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    default:
        return QStringLiteral("not known");
    }
}

// "key: value" per line, in key order.
QString lines(const QJsonObject& object)
{
    QStringList lines;
    for (auto it = object.begin(); it != object.end(); ++it)
        lines << it.key() + QStringLiteral(": ") + text(it.value());
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QString fill(const QString& prompt, const QHash<QString, QString>& values)
{
    QString filled;
    qsizetype at = 0;
    while (at < prompt.size()) {
        const qsizetype open = prompt.indexOf(QLatin1String("{{"), at);
        const qsizetype close = open < 0 ? -1 : prompt.indexOf(QLatin1String("}}"), open + 2);
        if (close < 0)
            break;
        const QString name = prompt.mid(open + 2, close - open - 2);
        filled += prompt.mid(at, open - at);
        if (const auto found = values.constFind(name); found != values.cend())
            filled += found->trimmed().isEmpty() ? QStringLiteral("(none)") : withoutMiddle(*found);
        else
            filled += prompt.mid(open, close + 2 - open);
        at = close + 2;
    }
    return filled + prompt.mid(at);
}

QJsonArray hint(const CoachRequest::Hint& request)
{
    return messages(QStringLiteral("hint"), {
                                                {QStringLiteral("phrase"), request.phrase},
                                                {QStringLiteral("context"), request.context},
                                                {QStringLiteral("stage"), request.stage},
                                                {QStringLiteral("stage_goal"), request.stageGoal},
                                                {QStringLiteral("seller_talk_share"), share(request.sellerTalkRatio)},
                                                {QStringLiteral("call_state"), lines(request.callState)},
                                                {QStringLiteral("product_context"), request.productContext},
                                                {QStringLiteral("objection_responses"), request.objectionResponses},
                                            });
}

QJsonArray extract(const CoachRequest::Extract& request)
{
    return messages(QStringLiteral("extract"), {{QStringLiteral("phrase"), request.phrase}});
}

QJsonArray assist(const CoachRequest::Assist& request)
{
    return messages(QStringLiteral("assist"), {
                                                  {QStringLiteral("transcript"), request.transcript},
                                                  {QStringLiteral("product_context"), request.productContext},
                                              });
}

QJsonArray analyze(const CoachRequest::Analyze& request)
{
    return messages(QStringLiteral("analyze"),
                    {
                        {QStringLiteral("transcript"), request.transcript},
                        {QStringLiteral("duration"), number(request.durationSec, QStringLiteral(" s"))},
                        {QStringLiteral("started_at"), request.startedAt},
                        {QStringLiteral("ended_at"), request.endedAt},
                        {QStringLiteral("hint_count"), number(request.hintCount)},
                        {QStringLiteral("talk_share"), share(request.talkRatio)},
                        {QStringLiteral("product_context"), request.productContext},
                    });
}

} // namespace quiro::service::CoachPrompt
