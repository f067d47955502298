#pragma once

#include "history/SessionRecord.h"

#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace quiro {

// The debrief of one call, in memory only: the headline figures at once, the analysis when (and
// if) it arrives.
struct PostCallSummary {
    enum class DisplayState { present, failed, pending };
    // Whether an analysis request follows the stop of a session.
    enum class AnalysisRequest { started, skipped };

    QUuid id = QUuid::createUuid();
    double durationSec = 0;
    qint64 score = 0;
    double talkRatio = 0;
    qint64 turns = 0;
    qint64 hintCount = 0;
    double deepgramCost = 0;
    double llmCost = 0;
    std::optional<QJsonObject> analysis;
    bool analysisFailed = false;

    // A present analysis wins even when the failure flag is also set.
    DisplayState displayState() const;

    // The summary published at stop, from the record just saved (which carries the local score
    // estimate and the talk ratio): pending while the analysis request runs, failed at once
    // when it is skipped.
    static PostCallSummary atStop(const SessionRecord& record, AnalysisRequest request);
    // A past session opened from the history: score 0 and talk ratio 0.5 when the record has
    // none, and the failed state (never pending) without a usable analysis.
    static PostCallSummary fromRecord(const SessionRecord& record);

    // "59 seconds" under a minute, otherwise "1 min 1 sec"; whole seconds, truncated.
    static QString durationText(double seconds);
    // The talk ratio as a truncated percentage (0.559 → 55).
    static qint64 talkSharePercent(double talkRatio);
    // Shown where the score would be for a call in which nothing was transcribed: a score of an
    // empty call says nothing about the seller.
    static inline const QString noSpeechHeard = QStringLiteral("no speech heard");
    // Talking more than this share of the words is flagged.
    static constexpr double talkRatioWarning = 0.6;
};

} // namespace quiro
