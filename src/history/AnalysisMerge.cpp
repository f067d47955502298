#include "history/AnalysisMerge.h"

#include "core/Json.h"
#include "history/RecordCodec.h"

namespace quiro::AnalysisMerge {

qint64 finalScore(const QJsonObject& analysis, qint64 estimate)
{
    if (analysis.isEmpty())
        return estimate;
    return RecordCodec::integer(analysis.value(QStringLiteral("score"))).value_or(estimate);
}

std::optional<qint64> apply(const std::optional<QJsonObject>& result, qint64 estimate, PostCallSummary* summary,
                            SessionRecord& record)
{
    if (!result) {
        if (summary)
            summary->analysisFailed = true;
        return std::nullopt;
    }
    const qint64 score = finalScore(*result, estimate);
    if (summary) {
        summary->analysis = *result;
        summary->score = score;
    }
    record.score = score;
    record.analysisJSON = QString::fromUtf8(Json::compact(*result));
    return score;
}

} // namespace quiro::AnalysisMerge
