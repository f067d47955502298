#pragma once

#include "conversation/CallState.h"
#include "conversation/Speaker.h"
#include "conversation/Stage.h"
#include "core/Clock.h"

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

namespace quiro {

// The running memory of one coached call: the last few turns, the full transcript, the fact
// ledger, word counts, the call stage and the milestones. The coach creates one per call and
// reads from it the text of every hint request.
//
// It is used from the main thread, but fact extraction and hint requests complete independently
// of each other and of new transcripts, so every operation holds one mutex for its whole
// duration (including the call-state update and stage detection inside add()). That keeps each
// operation atomic should a caller ever move one of them to another thread.
class ConversationBuffer {
public:
    static constexpr qsizetype windowSize = 4;
    static constexpr qsizetype stageHistoryLines = 20;

    explicit ConversationBuffer(const Clock& clock = Clock::system());
    ConversationBuffer(const ConversationBuffer&) = delete;
    ConversationBuffer& operator=(const ConversationBuffer&) = delete;

    // Appends one turn and returns the seconds since the previous add (since creation for the
    // first one). Updates word counts, the call state (client turns only) and the stage.
    double add(Speaker speaker, const QString& text);

    // Adds a key fact, trimmed, unless it is blank or already known (case-sensitive).
    void addFact(const QString& fact);

    void markHandled(const QString& objection);
    void setNextStepAgreed();
    CallStateSnapshot callStateSnapshot() const;

    // The context block of hint requests: the fact ledger, then the recent-turn window.
    QString contextStr() const;
    // One "RAW_VALUE: text" line per turn of the call, joined with "\n".
    QString fullTranscript() const;
    // The text of the newest client turn still in the recent window, or an empty string.
    QString lastClientText() const;
    // The seller's share of the words spoken, 0.5 before anyone has said a word.
    double managerTalkRatio() const;
    qsizetype turnCount() const;
    qsizetype clientTurnCount() const;
    Stage stage() const;

    QStringList ledger() const;
    // Replaces the ledger. The entries go through the same rules as addFact, so the ledger never
    // holds blanks or duplicates whoever fills it.
    void setLedger(const QStringList& facts);

private:
    void addFactLocked(const QString& fact);

    const Clock& m_clock;
    mutable QMutex m_mutex;
    QList<Turn> m_buffer;
    QStringList m_fullText;
    QStringList m_ledger;
    QSet<QString> m_ledgerSet; // the ledger's entries, so the duplicate test does not scan a long call's facts
    double m_lastTurnTime;
    Stage m_stage = Stage::opening;
    CallState m_callState;
    qint64 m_sellerWords = 0;
    qint64 m_clientWords = 0;
    qsizetype m_clientTurns = 0;
};

} // namespace quiro
