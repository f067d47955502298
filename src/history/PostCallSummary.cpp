#include "history/PostCallSummary.h"

#include <algorithm>
#include <cmath>

namespace quiro {

PostCallSummary::DisplayState PostCallSummary::displayState() const
{
    if (analysis)
        return DisplayState::present;
    return analysisFailed ? DisplayState::failed : DisplayState::pending;
}

PostCallSummary PostCallSummary::atStop(const SessionRecord& record, AnalysisRequest request)
{
    PostCallSummary summary = fromRecord(record);
    summary.analysis.reset();
    summary.analysisFailed = request == AnalysisRequest::skipped;
    return summary;
}

PostCallSummary PostCallSummary::fromRecord(const SessionRecord& record)
{
    PostCallSummary summary;
    summary.durationSec = record.durationSeconds();
    summary.score = record.score.value_or(0);
    summary.talkRatio = record.talkRatio.value_or(0.5);
    summary.turns = record.turns.size();
    summary.hintCount = record.hintCount;
    summary.deepgramCost = record.deepgramCostUSD;
    summary.llmCost = record.llmCostUSD;
    summary.analysis = record.analysis();
    summary.analysisFailed = !summary.analysis.has_value();
    return summary;
}

QString PostCallSummary::durationText(double seconds)
{
    // Clamped so that no stored value, however odd, overflows the conversion.
    constexpr double longest = 1e15;
    const qint64 whole = std::isfinite(seconds) && seconds > 0 ? static_cast<qint64>(std::min(seconds, longest)) : 0;
    if (whole < 60)
        return QString::number(whole) + QStringLiteral(" seconds");
    return QString::number(whole / 60) + QStringLiteral(" min ") + QString::number(whole % 60) + QStringLiteral(" sec");
}

qint64 PostCallSummary::talkSharePercent(double talkRatio)
{
    if (!std::isfinite(talkRatio))
        return 0;
    // A ratio of word counts such as 57/100 lands a hair below its percentage in binary
    // (0.57 * 100 = 56.999…); the nudge keeps it, and is far smaller than any real fraction.
    return static_cast<qint64>(std::trunc(std::clamp(talkRatio, -1e6, 1e6) * 100.0 + 1e-9));
}

} // namespace quiro
