#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace quiro {

// One finished utterance of a call, as stored in session files and checkpoints.
struct TurnRecord {
    static inline const QString managerTag = QStringLiteral("MGR"); // the seller, microphone side
    static inline const QString clientTag = QStringLiteral("CLT");  // the client, system-audio side

    // "You" for the seller, "Them" for the client; any other tag as it stands.
    static QString speakerName(const QString& tag);

    QString speaker;
    QString text;
    double timestamp = 0; // Unix seconds, when the final transcript arrived

    QJsonObject toJson() const;
    // Strict: "speaker" and "text" strings and "timestamp" a number, or nothing.
    static std::optional<TurnRecord> fromJson(const QJsonObject& object);

    bool operator==(const TurnRecord&) const = default;
};

} // namespace quiro
