#include "coaching/HintEngine.h"

#include "coaching/Playbook.h"
#include "coaching/ProductContext.h"
#include "conversation/WordCount.h"
#include "core/ExternalService.h"
#include "core/Json.h"
#include "core/Log.h"

#include <QCoroNetworkReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <cmath>

namespace quiro {

namespace {

const QString logTag = QStringLiteral("HintEngine");

// Qt would write a NaN or an infinity as null and send a body the service cannot trust; such a
// body counts as one that cannot be serialised.
bool allNumbersFinite(const QJsonObject& object)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue value = it.value();
        if (value.isDouble() && !std::isfinite(value.toDouble()))
            return false;
        if (value.isObject() && !allNumbersFinite(value.toObject()))
            return false;
    }
    return true;
}

bool isBlankOrLineBreak(QChar c)
{
    return c.isSpace();
}

QString trimmedBy(const QString& text, bool (*strip)(QChar))
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && strip(text.at(begin)))
        ++begin;
    while (end > begin && strip(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

bool isEdgeMark(QChar c)
{
    switch (c.unicode()) {
    case 0x0020: // blank
    case 0x0022: // "
    case 0x0027: // '
    case 0x00AB: // «
    case 0x00BB: // »
    case 0x0023: // #
    case 0x003E: // >
    case 0x002D: // -
        return true;
    default:
        return false;
    }
}

std::optional<QJsonObject> objectFrom(const QString& text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace

HintEngine::HintEngine(const Config& config, QString token, std::shared_ptr<const ProductContext> context,
                       QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_apiBase(config.apiBase)
    , m_token(std::move(token))
    , m_context(std::move(context))
{
}

HintEngine::~HintEngine()
{
    m_alive.reset();
    // A reply destroyed without finishing would leave its coroutine suspended for ever (and its
    // caller with it). Aborting finishes each one; its coroutine sees m_alive gone and returns empty.
    // They go before the access manager (an older child) is destroyed, which they must not outlive.
    QList<QPointer<QNetworkReply>> replies;
    for (QNetworkReply* reply : findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly))
        replies.append(reply);
    for (const QPointer<QNetworkReply>& reply : replies) {
        if (reply && !reply->isFinished())
            reply->abort();
    }
    for (const QPointer<QNetworkReply>& reply : replies)
        delete reply.data();
}

double HintEngine::totalLLMCost() const
{
    const QMutexLocker lock(&m_countersMutex);
    return m_totalLLMCost;
}

int HintEngine::totalCalls() const
{
    const QMutexLocker lock(&m_countersMutex);
    return m_totalCalls;
}

void HintEngine::setOnUsage(UsageCallback callback)
{
    const QMutexLocker lock(&m_countersMutex);
    m_onUsage = std::move(callback);
}

void HintEngine::recordCall(const QJsonObject& reply)
{
    const QJsonValue cost = reply.value(QStringLiteral("cost"));
    UsageCallback onUsage;
    {
        const QMutexLocker lock(&m_countersMutex);
        ++m_totalCalls;
        if (!cost.isDouble())
            return;
        m_totalLLMCost += cost.toDouble();
        onUsage = m_onUsage;
    }
    // Called outside the lock so that the receiver may read the totals.
    if (onUsage)
        onUsage(0, 0, cost.toDouble());
}

QString HintEngine::productContextText() const
{
    return m_context && m_context->loaded() ? m_context->compiled() : QString();
}

QCoro::Task<std::optional<QJsonObject>> HintEngine::post(QString path, QJsonObject body, int timeoutMs)
{
    const auto url = ExternalService::endpoint(m_apiBase, path);
    if (!url)
        co_return std::nullopt;
    if (!allNumbersFinite(body))
        co_return std::nullopt;

    QNetworkRequest request = ExternalService::request(*url, m_token);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(timeoutMs);

    const std::weak_ptr<int> alive = m_alive;
    QPointer<QNetworkReply> reply = m_network->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    // Owned by the engine, so that the destructor can find and abort it.
    reply->setParent(this);
    co_await reply.get();
    if (alive.expired() || !reply)
        co_return std::nullopt;
    reply->deleteLater();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // An HTTP error status also sets error(); only a failure without a status other than 200
    // (no connection, time-out, a body cut short) is a transport failure.
    if (reply->error() != QNetworkReply::NoError && (!status.isValid() || status.toInt() == 200)) {
        Log::line(logTag, path + QStringLiteral(" error: ") + reply->errorString());
        co_return std::nullopt;
    }
    if (!status.isValid())
        co_return std::nullopt;
    if (status.toInt() != 200) {
        Log::line(logTag, path + QStringLiteral(" → HTTP ") + QString::number(status.toInt()));
        co_return std::nullopt;
    }
    co_return Json::parseObject(reply->readAll());
}

QCoro::Task<std::optional<HintEngine::CategoryAndText>>
HintEngine::classifyAndGenerate(QString phrase, QString contextStr, Stage stage, double sellerTalkRatio,
                                std::optional<CallStateSnapshot> callState)
{
    QJsonObject body{
        {QStringLiteral("phrase"), phrase},
        {QStringLiteral("context"), contextStr},
        {QStringLiteral("stage"), rawValue(stage)},
        {QStringLiteral("stage_goal"), Playbook::stageGoal(stage)},
        {QStringLiteral("seller_talk_ratio"), sellerTalkRatio},
        {QStringLiteral("product_context"), productContextText()},
    };
    if (callState)
        body.insert(QStringLiteral("call_state"), callState->toDict());
    if (m_context && m_context->loaded()) {
        const std::optional<QString> responses = m_context->objectionResponses();
        if (responses && !responses->isEmpty())
            body.insert(QStringLiteral("objection_responses"), *responses);
    }

    const std::weak_ptr<int> alive = m_alive;
    const std::optional<QJsonObject> reply = co_await post(ExternalService::Path::hint, body, m_timeouts.hintMs);
    if (alive.expired() || !reply)
        co_return std::nullopt;

    const QJsonValue raw = reply->value(QStringLiteral("raw"));
    if (!raw.isString())
        co_return std::nullopt;
    recordCall(*reply);

    const std::optional<QJsonObject> answer = parseJSON(raw.toString());
    if (!answer || answer->isEmpty())
        co_return std::nullopt;

    // JSON does not tell 1 from 1.0: any number is a confidence, anything else is none.
    const QJsonValue confidence = answer->value(QStringLiteral("confidence"));
    if ((confidence.isDouble() ? confidence.toDouble() : 0.0) < confidenceThreshold)
        co_return std::nullopt;
    // Only a real boolean true interrupts the seller; the string "true" is a malformed answer.
    const QJsonValue shouldInterrupt = answer->value(QStringLiteral("should_interrupt"));
    if (!shouldInterrupt.isBool() || !shouldInterrupt.toBool())
        co_return std::nullopt;
    const QString intent = Json::string(*answer, QStringLiteral("intent")).value_or(QString());
    if (intent == QLatin1String("NEUTRAL"))
        co_return std::nullopt;

    const QString subType = Json::string(*answer, QStringLiteral("sub_type")).value_or(QString());
    const QString category = Playbook::mapCategory(subType, intent);

    QString text;
    if (const auto response = Json::string(*answer, QStringLiteral("response")))
        text = *response;
    else
        text = Playbook::fallback().value(category, QStringLiteral("Ask an open question"));

    text = stripMarkdown(text);
    if (wordCount(text) > maxHintWords)
        text = firstWords(text, maxHintWords);
    co_return CategoryAndText{category, text};
}

QCoro::Task<QStringList> HintEngine::extractFacts(QString phrase)
{
    // Short utterances carry no facts worth a request.
    if (phrase.isEmpty() || wordCount(phrase) < 5)
        co_return QStringList();

    QJsonObject body;
    body.insert(QStringLiteral("phrase"), phrase);
    const std::weak_ptr<int> alive = m_alive;
    const std::optional<QJsonObject> reply = co_await post(ExternalService::Path::extract, body, m_timeouts.extractMs);
    if (alive.expired() || !reply)
        co_return QStringList();
    co_return Json::stringList(reply->value(QStringLiteral("facts"))).value_or(QStringList());
}

QCoro::Task<std::optional<QString>> HintEngine::generateOnDemand(QString transcript)
{
    if (transcript.isEmpty())
        co_return std::nullopt;

    const QJsonObject body{
        {QStringLiteral("transcript"), transcript},
        {QStringLiteral("product_context"), productContextText()},
    };
    const std::weak_ptr<int> alive = m_alive;
    const std::optional<QJsonObject> reply = co_await post(ExternalService::Path::assist, body, m_timeouts.assistMs);
    if (alive.expired() || !reply)
        co_return std::nullopt;

    recordCall(*reply);
    const auto hint = Json::string(*reply, QStringLiteral("hint"));
    if (!hint || hint->isEmpty())
        co_return std::nullopt;
    const QString cleaned = stripMarkdown(*hint);
    if (cleaned.isEmpty())
        co_return std::nullopt;
    co_return firstWords(cleaned, maxHintWords);
}

QCoro::Task<std::optional<QJsonObject>> HintEngine::analyze(QString transcript, double durationSec, double talkRatio,
                                                            int hintCount, QString startedAt, QString endedAt)
{
    const QJsonObject body{
        {QStringLiteral("transcript"), transcript},
        {QStringLiteral("duration_sec"), durationSec},
        {QStringLiteral("talk_ratio"), talkRatio},
        {QStringLiteral("hint_count"), hintCount},
        {QStringLiteral("started_at"), startedAt},
        {QStringLiteral("ended_at"), endedAt},
        {QStringLiteral("product_context"), productContextText()},
    };
    const std::weak_ptr<int> alive = m_alive;
    const std::optional<QJsonObject> reply = co_await post(ExternalService::Path::analyze, body, m_timeouts.analyzeMs);
    if (alive.expired() || !reply)
        co_return std::nullopt;
    co_return Json::object(*reply, QStringLiteral("analysis"));
}

QString HintEngine::stripMarkdown(const QString& text)
{
    QString cleaned = text;
    // Longest marks first, so that "**" is not read as two single "*".
    for (const QString& mark :
         {QStringLiteral("**"), QStringLiteral("__"), QStringLiteral("*"), QStringLiteral("_"), QStringLiteral("`")})
        cleaned.remove(mark);
    return trimmedBy(cleaned, isEdgeMark);
}

std::optional<QJsonObject> HintEngine::parseJSON(const QString& raw)
{
    const QString fence = QStringLiteral("```");
    QString text = trimmedBy(raw, isBlankOrLineBreak);
    if (text.startsWith(fence)) {
        const QStringList pieces = text.split(fence);
        if (pieces.size() >= 2) {
            QString inner = pieces.at(1);
            if (inner.startsWith(QLatin1String("json")))
                inner.remove(0, 4);
            text = trimmedBy(inner, isBlankOrLineBreak);
        }
    }
    if (auto object = objectFrom(text))
        return object;

    const qsizetype open = text.indexOf(QLatin1Char('{'));
    const qsizetype close = text.lastIndexOf(QLatin1Char('}'));
    if (open >= 0 && close > open)
        return objectFrom(text.mid(open, close - open + 1));
    return std::nullopt;
}

QString HintEngine::firstWords(const QString& text, int count)
{
    return words(text).mid(0, count).join(QLatin1Char(' '));
}

} // namespace quiro
