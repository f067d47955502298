#pragma once

#include "core/Clock.h"
#include "history/TurnRecord.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>

#include <optional>

namespace quiro {

// The running session's transcript so far, written periodically so that a crash loses at most
// one interval of turns.
struct SessionCheckpoint {
    double startedAt = 0; // Unix seconds
    QList<TurnRecord> turns;
    double savedAt = 0; // Unix seconds, when the checkpoint was built

    // A checkpoint built now.
    static SessionCheckpoint make(double startedAt, QList<TurnRecord> turns, const Clock& clock = Clock::system());

    QJsonObject toJson() const;
    // Strict: "startedAt", "turns" and "savedAt" are all required.
    static std::optional<SessionCheckpoint> fromJson(const QJsonObject& object);

    // Absent when a time is NaN or infinite (see SessionRecord::encode).
    std::optional<QByteArray> encode() const;
    static std::optional<SessionCheckpoint> decode(const QByteArray& bytes);

    bool operator==(const SessionCheckpoint&) const = default;
};

} // namespace quiro
