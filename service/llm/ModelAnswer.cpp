#include "service/llm/ModelAnswer.h"

#include "core/Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <cmath>

namespace quiro::service::ModelAnswer {

namespace {

std::optional<QJsonObject> parsed(const QString& text)
{
    return Json::parseObject(text.toUtf8());
}

int wordCount(const QString& text)
{
    return int(text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).size());
}

// Reads one member after another; the first one that is wrong is the problem.
class Members {
public:
    Members(const QJsonObject& object, QString* problem)
        : m_object(object)
        , m_problem(problem)
    {
    }

    bool ok() const { return m_problem->isEmpty(); }

    QString text(const char* key, int maxWords = 0)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        const QString text = value.toString().simplified();
        if (!value.isString())
            wrong(key, QStringLiteral("is not a text"));
        else if (maxWords > 0 && wordCount(text) > maxWords)
            wrong(key, QStringLiteral("is longer than %1 words").arg(maxWords));
        return text;
    }
    QString nonEmptyText(const char* key, int maxWords = 0)
    {
        const QString value = text(key, maxWords);
        if (ok() && value.isEmpty())
            wrong(key, QStringLiteral("is empty"));
        return value;
    }
    // One of `allowed`, compared without case, given back as written there.
    QString oneOf(const char* key, const QStringList& allowed)
    {
        const QString value = text(key);
        for (const QString& candidate : allowed) {
            if (candidate.compare(value, Qt::CaseInsensitive) == 0)
                return candidate;
        }
        if (ok())
            wrong(key, QStringLiteral("is not one of the values asked for"));
        return {};
    }
    double number(const char* key, double lowest, double highest)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (!value.isDouble() || value.toDouble() < lowest || value.toDouble() > highest)
            wrong(key, QStringLiteral("is not a number from %1 to %2").arg(lowest).arg(highest));
        return value.toDouble();
    }
    bool boolean(const char* key)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (!value.isBool())
            wrong(key, QStringLiteral("is not true or false"));
        return value.toBool();
    }
    // Texts; empty ones are dropped, at most `maxEntries` kept.
    QJsonArray texts(const char* key, qsizetype maxEntries)
    {
        const auto list = Json::stringList(m_object.value(QLatin1String(key)));
        if (!list)
            wrong(key, QStringLiteral("is not a list of texts"));
        QJsonArray kept;
        for (const QString& entry : list.value_or(QStringList())) {
            if (!entry.simplified().isEmpty() && kept.size() < maxEntries)
                kept.append(entry.simplified());
        }
        return kept;
    }
    QJsonArray objects(const char* key)
    {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (!value.isArray())
            wrong(key, QStringLiteral("is not a list"));
        return value.toArray();
    }

private:
    void wrong(const char* key, const QString& what)
    {
        if (ok())
            *m_problem = QStringLiteral("\"%1\" %2").arg(QLatin1String(key), what);
    }

    const QJsonObject& m_object;
    QString* m_problem;
};

const QStringList& intents()
{
    static const QStringList intents{QStringLiteral("OBJECTION"), QStringLiteral("STALL"),
                                     QStringLiteral("BUYING_SIGNAL"), QStringLiteral("SELLER_BEHAVIOR"),
                                     QStringLiteral("NEUTRAL")};
    return intents;
}

// The concerns a client raises, as the analysis names them.
const QStringList& concerns()
{
    static const QStringList concerns{
        QStringLiteral("price"),  QStringLiteral("competitor"), QStringLiteral("authority"),
        QStringLiteral("trust"),  QStringLiteral("need"),       QStringLiteral("urgency"),
        QStringLiteral("change"), QStringLiteral("process"),    QStringLiteral("info_stall")};
    return concerns;
}

// The sub-types the app maps to a hint category, and the two that never interrupt.
const QStringList& subTypes()
{
    static const QStringList subTypes = concerns() + QStringList{
                                                         QStringLiteral("buying_signal"),
                                                         QStringLiteral("overtalking"),
                                                         QStringLiteral("rushing"),
                                                         QStringLiteral("overselling"),
                                                         QStringLiteral("ignoring_objection"),
                                                         QStringLiteral("premature_close"),
                                                         QStringLiteral("weak_close"),
                                                         QStringLiteral("discounting"),
                                                         QStringLiteral("vague_proof"),
                                                         QStringLiteral("small_talk"),
                                                         QStringLiteral("none"),
                                                     };
    return subTypes;
}

std::optional<QJsonObject> hint(const QJsonObject& answer, QString* problem)
{
    Members members(answer, problem);
    QJsonObject raw{
        {QStringLiteral("confidence"), members.number("confidence", 0, 1)},
        {QStringLiteral("should_interrupt"), members.boolean("should_interrupt")},
        {QStringLiteral("intent"), members.oneOf("intent", intents())},
        {QStringLiteral("sub_type"), members.oneOf("sub_type", subTypes())},
    };
    const bool interrupts = raw.value(QStringLiteral("should_interrupt")).toBool() &&
                            raw.value(QStringLiteral("intent")).toString() != QLatin1String("NEUTRAL");
    raw.insert(QStringLiteral("response"),
               interrupts ? members.nonEmptyText("response", maxHintWords) : members.text("response", maxHintWords));
    if (!members.ok())
        return std::nullopt;
    return QJsonObject{{QStringLiteral("raw"), QString::fromUtf8(Json::compact(raw))}};
}

std::optional<QJsonObject> extract(const QJsonObject& answer, QString* problem)
{
    Members members(answer, problem);
    const QJsonArray facts = members.texts("facts", maxFacts);
    if (!members.ok())
        return std::nullopt;
    return QJsonObject{{QStringLiteral("facts"), facts}};
}

std::optional<QJsonObject> assist(const QJsonObject& answer, QString* problem)
{
    Members members(answer, problem);
    const QString hint = members.nonEmptyText("hint", maxHintWords);
    if (!members.ok())
        return std::nullopt;
    return QJsonObject{{QStringLiteral("hint"), hint}};
}

std::optional<QJsonObject> objection(const QJsonValue& value, QString* problem)
{
    if (!value.isObject()) {
        *problem = QStringLiteral("an entry of \"objections\" is not an object");
        return std::nullopt;
    }
    const QJsonObject entry = value.toObject();
    Members members(entry, problem);
    QJsonObject objection{
        {QStringLiteral("type"), members.oneOf("type", concerns())},
        {QStringLiteral("quote"), members.nonEmptyText("quote")},
        {QStringLiteral("handled"), members.boolean("handled")},
        {QStringLiteral("note"), members.text("note")},
    };
    if (!members.ok())
        return std::nullopt;
    return objection;
}

std::optional<QJsonObject> analysis(const QJsonObject& answer, QString* problem)
{
    // Some models wrap the analysis in the reply's own member.
    const QJsonObject analysis = answer.value(QStringLiteral("analysis")).isObject()
                                     ? answer.value(QStringLiteral("analysis")).toObject()
                                     : answer;
    Members members(analysis, problem);
    QJsonObject checked{
        // The app takes only a whole number as the score.
        {QStringLiteral("score"), std::round(members.number("score", 0, 100))},
        {QStringLiteral("summary"), members.nonEmptyText("summary")},
        {QStringLiteral("strengths"), members.texts("strengths", maxListEntries)},
        {QStringLiteral("improvements"), members.texts("improvements", maxListEntries)},
        {QStringLiteral("missed_opportunities"), members.texts("missed_opportunities", maxListEntries)},
        {QStringLiteral("next_steps"), members.texts("next_steps", maxListEntries)},
        {QStringLiteral("talk_listen_note"), members.text("talk_listen_note")},
    };
    QJsonArray objections;
    for (const QJsonValue& value : members.objects("objections")) {
        if (!members.ok())
            break;
        const auto entry = objection(value, problem);
        if (entry && objections.size() < maxObjections)
            objections.append(*entry);
    }
    checked.insert(QStringLiteral("objections"), objections);
    if (!members.ok())
        return std::nullopt;
    return QJsonObject{{QStringLiteral("analysis"), checked}};
}

} // namespace

std::optional<QJsonObject> objectIn(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (auto object = parsed(trimmed))
        return object;
    // A fenced block anywhere: "```json", the object, "```".
    static const QRegularExpression fence(QStringLiteral("```[A-Za-z]*\\s*\\n(.*?)```"),
                                          QRegularExpression::DotMatchesEverythingOption);
    const auto match = fence.match(trimmed);
    if (match.hasMatch()) {
        if (auto object = parsed(match.captured(1).trimmed()))
            return object;
    }
    const qsizetype open = trimmed.indexOf(QLatin1Char('{'));
    const qsizetype close = trimmed.lastIndexOf(QLatin1Char('}'));
    if (open >= 0 && close > open)
        return parsed(trimmed.mid(open, close - open + 1));
    return std::nullopt;
}

std::optional<QJsonObject> reply(Coach::Endpoint endpoint, const QString& text, QString* problem)
{
    problem->clear();
    const auto answer = objectIn(text);
    if (!answer) {
        *problem = QStringLiteral("the model's answer holds no JSON object");
        return std::nullopt;
    }
    switch (endpoint) {
    case Coach::Endpoint::hint:
        return hint(*answer, problem);
    case Coach::Endpoint::extract:
        return extract(*answer, problem);
    case Coach::Endpoint::assist:
        return assist(*answer, problem);
    case Coach::Endpoint::analyze:
        return analysis(*answer, problem);
    }
    return std::nullopt;
}

} // namespace quiro::service::ModelAnswer
