#pragma once

#include "history/TurnRecord.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace quiro {

// One stored session: the whole transcript, the counters and costs of the call, its score and,
// once the hint service has analysed the call, the analysis as JSON text.
struct SessionRecord {
    QUuid id = QUuid::createUuid();
    double startedAt = 0;          // Unix seconds; also names the file
    std::optional<double> endedAt; // Unix seconds
    QList<TurnRecord> turns;       // arrival order
    qint64 hintCount = 0;
    double deepgramCostUSD = 0;
    double llmCostUSD = 0;
    qint64 llmCalls = 0;
    std::optional<qint64> score;         // the local estimate, later the analysis score
    std::optional<double> talkRatio;     // the seller's share of the words, 0..1
    std::optional<QString> analysisJSON; // the analysis object as compact JSON text

    // endedAt - startedAt; 0 without an end.
    double durationSeconds() const;
    // analysisJSON parsed; absent unless it holds a JSON object.
    std::optional<QJsonObject> analysis() const;

    // The session-file object: absent optionals are left out, never written as null.
    QJsonObject toJson() const;
    // Strict: every required key present with its type, integers integral, the id a canonical
    // UUID (any case); otherwise nothing. Unknown keys are ignored.
    static std::optional<SessionRecord> fromJson(const QJsonObject& object);

    // The compact UTF-8 file content; absent when a number is NaN or infinite, which JSON
    // cannot carry (writing null instead would leave a file nobody can read back).
    std::optional<QByteArray> encode() const;
    static std::optional<SessionRecord> decode(const QByteArray& bytes);

    bool operator==(const SessionRecord&) const = default;
};

} // namespace quiro
