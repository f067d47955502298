#include "ui/main/Insights.h"

#include "history/PostCallSummary.h"
#include "ui/kit/DS.h"

#include <cmath>

namespace quiro {

namespace {
QColor averageScoreTint(qint64 averageScore)
{
    if (averageScore >= 70)
        return DS::green;
    return averageScore >= 50 ? DS::inkSoft : DS::red;
}
} // namespace

QList<Insight> insights(const QList<SessionRecord>& records)
{
    double seconds = 0;
    qint64 scoreSum = 0;
    qint64 scored = 0;
    double ratioSum = 0;
    qint64 ratios = 0;
    for (const SessionRecord& record : records) {
        seconds += std::max(0.0, record.durationSeconds());
        if (record.score) {
            scoreSum += *record.score;
            ++scored;
        }
        if (record.talkRatio) {
            ratioSum += *record.talkRatio;
            ++ratios;
        }
    }

    QList<Insight> result{
        {QString::number(records.size()), QStringLiteral("calls"), DS::ink},
        {QString::number(qint64(seconds / 60.0)) + QLatin1Char('m'), QStringLiteral("total"), DS::ink},
    };
    if (scored > 0) {
        const qint64 average = scoreSum / scored;
        result.append({QString::number(average), QStringLiteral("avg score"), averageScoreTint(average)});
    }
    if (ratios > 0) {
        const qint64 percent = PostCallSummary::talkSharePercent(ratioSum / double(ratios));
        result.append({QString::number(percent) + QLatin1Char('%'), QStringLiteral("you talk"),
                       percent < 56 ? DS::green : DS::inkSoft});
    }
    return result;
}

} // namespace quiro
