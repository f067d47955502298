#pragma once

#include "core/AtomicFile.h"
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
// Writes report what went wrong, so that a call is never lost in silence; a file that cannot be
// listed, read or decoded is skipped. Nothing already stored is rewritten except by a complete
// atomic replacement. Used on the main thread only.
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

    QString sessionsDir(const QString& account = accountName()) const; // created (0700) on every call
    QString checkpointPath() const;                                    // ~/.quiroai created (0700) on every call
    // The other accounts whose calls are stored on this computer (folder names), for people who
    // wonder where their calls went after signing out.
    QStringList otherAccounts() const;

    // Writes the record to its file: the start-time name, or that name with "-2", "-3"… before
    // ".json" when the file of that name already holds another session (two calls started in the
    // same second). Saving the same record again replaces its own file. A call is kept in the
    // folder of the account it was made under, even when somebody else signs in meanwhile.
    WriteResult save(const SessionRecord& record, const QString& account = accountName()) const;

    struct Listing {
        QList<SessionRecord> records; // newest file first
        int skippedFiles = 0;         // files among the first `limit` that could not be read or decoded
    };
    QList<SessionRecord> loadRecent(int limit = defaultRecentLimit) const;
    Listing loadRecentListing(int limit = defaultRecentLimit) const;

    WriteResult saveCheckpoint(const SessionCheckpoint& checkpoint) const;
    std::optional<SessionCheckpoint> loadCheckpoint() const;
    void clearCheckpoint() const;

private:
    // Where `record` is or will be stored in `dir`.
    static QString fileFor(const QString& dir, const QString& name, const SessionRecord& record);

    const Clock& m_clock;
};

} // namespace quiro
