#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace quiro {

// A value copy of the call's milestones, handed to readers so that nobody shares the live state.
struct CallStateSnapshot {
    bool painSurfaced = false;
    bool decisionMakerOnCall = true;
    bool budgetDiscussed = false;
    QStringList objectionsHandled;
    bool nextStepAgreed = false;

    // The "call_state" object of hint requests (snake-case keys).
    QJsonObject toDict() const;

    friend bool operator==(const CallStateSnapshot&, const CallStateSnapshot&) = default;
};

// The milestones of one call. The flags only move one way: what the client has said cannot be
// unsaid, so nothing sets them back during a call. Owned by a ConversationBuffer, which
// serialises every access; it has no lock of its own.
class CallState {
public:
    // Applies the keyword rules to one client utterance. Seller utterances must not be passed:
    // a seller talking about budget does not mean the client has discussed it.
    void update(const QString& clientText);

    // Records a handled objection (a hint category) once, in order; comparison is case-sensitive.
    void markHandled(const QString& item);

    void setNextStepAgreed() { m_nextStepAgreed = true; }

    bool painSurfaced() const { return m_painSurfaced; }
    bool decisionMakerOnCall() const { return m_decisionMakerOnCall; }
    bool budgetDiscussed() const { return m_budgetDiscussed; }
    const QStringList& objectionsHandled() const { return m_objectionsHandled; }
    bool nextStepAgreed() const { return m_nextStepAgreed; }

    CallStateSnapshot snapshot() const;

private:
    bool m_painSurfaced = false;
    bool m_decisionMakerOnCall = true;
    bool m_budgetDiscussed = false;
    QStringList m_objectionsHandled;
    bool m_nextStepAgreed = false;
};

} // namespace quiro
