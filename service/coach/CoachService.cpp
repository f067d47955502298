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

ApiReply hint(const CoachRequest::Hint& request)
{
    const ProductHints product(request.productContext, request.objectionResponses);
    const auto result =
        HintClassifier::classify({request.phrase, request.context, request.stage, product.competitorNames()});
    QJsonObject model{
        {QStringLiteral("confidence"), result.confidence},
        {QStringLiteral("should_interrupt"), result.shouldInterrupt},
        {QStringLiteral("intent"), result.intent},
        {QStringLiteral("sub_type"), result.subType.isEmpty() ? QStringLiteral("none") : result.subType},
        {QStringLiteral("response"), product.responseFor(result.subType, request.phrase)},
    };
    if (!result.matchedCues.isEmpty())
        model.insert(QStringLiteral("reason"),
                     QStringLiteral("matched: ") + result.matchedCues.join(QStringLiteral(", ")));
    return ApiReply::ok({
        {QStringLiteral("raw"), QString::fromUtf8(Json::compact(model))},
        {QStringLiteral("cost"), zeroCost},
    });
}

ApiReply extract(const CoachRequest::Extract& request)
{
    QJsonArray facts;
    for (const QString& fact : FactExtractor::extract(request.phrase))
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

ApiReply assist(const CoachRequest::Assist& request)
{
    return ApiReply::ok({
        {QStringLiteral("hint"), assistHint(request.transcript, request.productContext)},
        {QStringLiteral("cost"), zeroCost},
    });
}

ApiReply analyze(const CoachRequest::Analyze& request)
{
    const auto analysis =
        CallAnalyzer::analyze({request.transcript, request.durationSec, request.productContext, request.talkRatio});
    if (!analysis)
        return ApiReply::error(422, CoachRequest::noLinesToAnalyse);
    return ApiReply::ok({{QStringLiteral("analysis"), *analysis}});
}

namespace {

// A request read from its body and answered, or the reason it cannot be read.
template <typename Request>
ApiReply answer(const CoachRequest::Parsed<Request>& parsed, ApiReply (*respond)(const Request&))
{
    return parsed.request ? respond(*parsed.request) : parsed.error;
}

} // namespace

ApiReply hint(const QByteArray& body)
{
    return answer(CoachRequest::hint(body), &hint);
}

ApiReply extract(const QByteArray& body)
{
    return answer(CoachRequest::extract(body), &extract);
}

ApiReply assist(const QByteArray& body)
{
    return answer(CoachRequest::assist(body), &assist);
}

ApiReply analyze(const QByteArray& body)
{
    return answer(CoachRequest::analyze(body), &analyze);
}

} // namespace quiro::service::CoachService
