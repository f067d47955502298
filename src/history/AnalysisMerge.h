#pragma once

#include "history/PostCallSummary.h"
#include "history/SessionRecord.h"

#include <QJsonObject>

#include <optional>

// Folding the post-call analysis into the published summary and the stored record. Pure: the
// session controller saves the record, updates the overlay and posts the notification.
namespace quiro::AnalysisMerge {

// The analysis' "score" when the object is non-empty and the score is an integral number
// that fits; otherwise the local estimate.
qint64 finalScore(const QJsonObject& analysis, qint64 estimate);

// With an analysis: sets the summary's analysis and score (when a summary is still shown),
// the record's score and its analysisJSON (compact JSON text), and returns the final score;
// the caller then saves the record again. Without one: marks the summary failed, leaves the
// record alone and returns none.
std::optional<qint64> apply(const std::optional<QJsonObject>& result, qint64 estimate, PostCallSummary* summary,
                            SessionRecord& record);

} // namespace quiro::AnalysisMerge
