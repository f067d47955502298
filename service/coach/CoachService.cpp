#include "service/coach/CoachService.h"

#include "core/Json.h"
#include "service/coach/CallAnalyzer.h"
#include "service/coach/FactExtractor.h"
#include "service/coach/HintClassifier.h"
#include "service/coach/ProductHints.h"

#include <QJsonArray>

namespace quiro::service::CoachService {

namespace {

constexpr double zeroCost = 0.0;

} // namespace

ApiReply hint(const QByteArray& body)
{
    const JsonBody parsed = parseJsonBody(body);
    if (!parsed.object)
        return parsed.error;
    const QJsonObject& request = *parsed.object;
    ApiReply error;
    const auto phrase = requireString(request, QStringLiteral("phrase"), error);
    if (!phrase)
        return error;
    const auto context = optionalString(request, QStringLiteral("context"), error);
    const auto stage = context ? optionalString(request, QStringLiteral("stage"), error) : std::nullopt;
    const auto productContext =
        stage ? optionalString(request, QStringLiteral("product_context"), error) : std::nullopt;
    const auto responses =
        productContext ? optionalString(request, QStringLiteral("objection_responses"), error) : std::nullopt;
    const auto talkRatio =
        responses ? optionalNumber(request, QStringLiteral("seller_talk_ratio"), error) : std::nullopt;
    if (!talkRatio)
        return error;
    const QJsonValue callState = request.value(QStringLiteral("call_state"));
    if (!callState.isUndefined() && !callState.isNull() && !callState.isObject())
        return ApiReply::error(422, QStringLiteral("\"call_state\" must be an object"));

    const ProductHints product(*productContext, *responses);
    const auto result = HintClassifier::classify({*phrase, *context, *stage, product.competitorNames()});
    QJsonObject model{
        {QStringLiteral("confidence"), result.confidence},
        {QStringLiteral("should_interrupt"), result.shouldInterrupt},
        {QStringLiteral("intent"), result.intent},
        {QStringLiteral("sub_type"), result.subType.isEmpty() ? QStringLiteral("none") : result.subType},
        {QStringLiteral("response"), product.responseFor(result.subType, *phrase)},
    };
    if (!result.matchedCues.isEmpty())
        model.insert(QStringLiteral("reason"),
                     QStringLiteral("matched: ") + result.matchedCues.join(QStringLiteral(", ")));
    return ApiReply::ok({
        {QStringLiteral("raw"), QString::fromUtf8(Json::compact(model))},
        {QStringLiteral("cost"), zeroCost},
    });
}

ApiReply extract(const QByteArray& body)
{
    const JsonBody parsed = parseJsonBody(body);
    if (!parsed.object)
        return parsed.error;
    ApiReply error;
    const auto phrase = requireString(*parsed.object, QStringLiteral("phrase"), error);
    if (!phrase)
        return error;
    QJsonArray facts;
    for (const QString& fact : FactExtractor::extract(*phrase))
        facts.append(fact);
    return ApiReply::ok({{QStringLiteral("facts"), facts}});
}

QString assistHint(const QString& transcript, const QString& productContext)
{
    const QList<CallAnalyzer::Line> lines = CallAnalyzer::parseTranscript(transcript);
    const ProductHints product(productContext, QString());
    if (lines.isEmpty())
        return QStringLiteral("Ask what made them take this call");

    // The client's latest words decide, when they call for something specific.
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (lines.at(i).seller)
            continue;
        const auto result =
            HintClassifier::classify({lines.at(i).text, QString(), QString(), product.competitorNames()});
        if (result.shouldInterrupt)
            return product.responseFor(result.subType, lines.at(i).text);
        break;
    }
    if (CallAnalyzer::sellerWordShare(lines) > 0.65)
        return QStringLiteral("Pause. Ask an open question and listen.");
    bool clientSpoke = false;
    for (const CallAnalyzer::Line& line : lines)
        clientSpoke = clientSpoke || !line.seller;
    if (!clientSpoke)
        return QStringLiteral("Ask what made them take this call");
    if (lines.last().seller && CallAnalyzer::isQuestion(lines.last().text))
        return QStringLiteral("Wait for the answer; don't fill silence");
    return QStringLiteral("Ask what would make this a clear win");
}

ApiReply assist(const QByteArray& body)
{
    const JsonBody parsed = parseJsonBody(body);
    if (!parsed.object)
        return parsed.error;
    ApiReply error;
    const auto transcript = requireString(*parsed.object, QStringLiteral("transcript"), error);
    if (!transcript)
        return error;
    const auto productContext = optionalString(*parsed.object, QStringLiteral("product_context"), error);
    if (!productContext)
        return error;
    return ApiReply::ok({
        {QStringLiteral("hint"), assistHint(*transcript, *productContext)},
        {QStringLiteral("cost"), zeroCost},
    });
}

ApiReply analyze(const QByteArray& body)
{
    const JsonBody parsed = parseJsonBody(body);
    if (!parsed.object)
        return parsed.error;
    const QJsonObject& request = *parsed.object;
    ApiReply error;
    const auto transcript = requireString(request, QStringLiteral("transcript"), error);
    if (!transcript)
        return error;
    const auto duration = optionalNumber(request, QStringLiteral("duration_sec"), error);
    if (!duration)
        return error;
    const auto talkRatio = optionalNumber(request, QStringLiteral("talk_ratio"), error);
    if (!talkRatio || !optionalNumber(request, QStringLiteral("hint_count"), error))
        return error;
    for (const char* key : {"started_at", "ended_at"}) {
        if (!optionalString(request, QString::fromLatin1(key), error))
            return error;
    }
    const auto productContext = optionalString(request, QStringLiteral("product_context"), error);
    if (!productContext)
        return error;
    const auto analysis = CallAnalyzer::analyze({*transcript, *duration, *productContext, *talkRatio});
    if (!analysis)
        return ApiReply::error(422, QStringLiteral("The transcript holds no \"MGR: \" or \"CLT: \" lines to analyse"));
    return ApiReply::ok({{QStringLiteral("analysis"), *analysis}});
}

} // namespace quiro::service::CoachService
