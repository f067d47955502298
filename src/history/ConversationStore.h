#pragma once

#include "core/Clock.h"
#include "history/SessionCheckpoint.h"
#include "history/SessionRecord.h"

#include <QList>
#include <QString>

#include <limits>
#include <optional>

namespace quiro {

// The session files of the signed-in account (~/.quiroai/sessions/<account>/) and the account's
// crash-recovery checkpoint (~/.quiroai/checkpoint_<account>.json). It keeps no state: every
// operation recomputes its paths, so signing in with another account switches folders at once.
// Operations never report failures: a file that cannot be written, listed, read or decoded is
// skipped, and nothing already stored is rewritten except by a complete atomic replacement.
// Used on the main thread only.
class ConversationStore {
public:
    static constexpr int defaultRecentLimit = 20;
    static constexpr int allFiles = std::numeric_limits<int>::max();
    // A checkpoint exactly this old is still recovered; one second more and it is deleted.
    static constexpr double checkpointMaxAgeSeconds = 14'400.0;

    explicit ConversationStore(const Clock& clock = Clock::system());
    static ConversationStore& shared();

    // "quiro_email" with "@", "." and "/" replaced by "_", or "local" without one.
    static QString accountName();
    // "session-2026-12-05T03-48-56Z.json" for a start at 03:48:56.x UTC; absent when the time
    // is not a representable date.
    static std::optional<QString> fileName(double startedAtUnixSeconds);

    QString sessionsDir() const;    // created (0700) on every call
    QString checkpointPath() const; // ~/.quiroai created (0700) on every call

    void save(const SessionRecord& record) const;

    struct Listing {
        QList<SessionRecord> records; // newest file first
        int skippedFiles = 0;         // files among the first `limit` that could not be read or decoded
    };
    QList<SessionRecord> loadRecent(int limit = defaultRecentLimit) const;
    Listing loadRecentListing(int limit = defaultRecentLimit) const;

    void saveCheckpoint(const SessionCheckpoint& checkpoint) const;
    std::optional<SessionCheckpoint> loadCheckpoint() const;
    void clearCheckpoint() const;

private:
    const Clock& m_clock;
};

} // namespace quiro
