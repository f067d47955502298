#include "conversation/ConversationBuffer.h"

#include "conversation/WordCount.h"

#include <QMutexLocker>

namespace quiro {

ConversationBuffer::ConversationBuffer(const Clock& clock)
    : m_clock(clock)
    , m_lastTurnTime(clock.now())
{
}

double ConversationBuffer::add(Speaker speaker, const QString& text)
{
    QMutexLocker locker(&m_mutex);
    const double now = m_clock.now();
    const double sincePrevious = now - m_lastTurnTime;
    m_lastTurnTime = now;

    m_buffer.append(Turn{speaker, text});
    if (m_buffer.size() > windowSize)
        m_buffer.remove(0, m_buffer.size() - windowSize);

    m_fullText.append(rawValue(speaker) + QStringLiteral(": ") + text);
    // Every line starts with its speaker's raw value, so counting client turns as they arrive
    // gives the same number as scanning the transcript for lines that begin with "CLIENT".
    if (speaker == Speaker::client)
        ++m_clientTurns;

    const qsizetype words = wordCount(text);
    if (speaker == Speaker::manager) {
        m_sellerWords += words;
    } else {
        m_clientWords += words;
        m_callState.update(text);
    }

    // Only the last lines decide the stage, so it follows the conversation both ways and the cost
    // of a turn does not grow with the length of the call.
    const qsizetype first = qMax<qsizetype>(0, m_fullText.size() - stageHistoryLines);
    const QString history = m_fullText.sliced(first).join(QLatin1Char('\n'));
    m_stage = Playbook::detectStage(history, m_fullText.size());
    return sincePrevious;
}

void ConversationBuffer::addFact(const QString& fact)
{
    QMutexLocker locker(&m_mutex);
    addFactLocked(fact);
}

void ConversationBuffer::addFactLocked(const QString& fact)
{
    const QString trimmed = fact.trimmed();
    if (trimmed.isEmpty() || m_ledgerSet.contains(trimmed))
        return;
    m_ledgerSet.insert(trimmed);
    m_ledger.append(trimmed);
}

void ConversationBuffer::markHandled(const QString& objection)
{
    QMutexLocker locker(&m_mutex);
    m_callState.markHandled(objection);
}

void ConversationBuffer::setNextStepAgreed()
{
    QMutexLocker locker(&m_mutex);
    m_callState.setNextStepAgreed();
}

CallStateSnapshot ConversationBuffer::callStateSnapshot() const
{
    QMutexLocker locker(&m_mutex);
    return m_callState.snapshot();
}

QString ConversationBuffer::contextStr() const
{
    QMutexLocker locker(&m_mutex);
    QStringList lines;
    lines.reserve(m_ledger.size() + windowSize + 3);
    if (!m_ledger.isEmpty()) {
        lines.append(QStringLiteral("KEY FACTS FROM THIS CALL:"));
        for (const QString& fact : m_ledger)
            lines.append(QStringLiteral("  \u2022 ") + fact);
        lines.append(QString());
    }
    // The heading names the window size, not the number of turns present.
    lines.append(QStringLiteral("RECENT TURNS (last %1):").arg(windowSize));
    for (const Turn& turn : m_buffer)
        lines.append(QLatin1Char('[') + contextLabel(turn.speaker) + QStringLiteral("]: ") + turn.text);
    return lines.join(QLatin1Char('\n'));
}

QString ConversationBuffer::fullTranscript() const
{
    QMutexLocker locker(&m_mutex);
    return m_fullText.join(QLatin1Char('\n'));
}

QString ConversationBuffer::lastClientText() const
{
    QMutexLocker locker(&m_mutex);
    for (auto it = m_buffer.crbegin(); it != m_buffer.crend(); ++it) {
        if (it->speaker == Speaker::client)
            return it->text;
    }
    return {};
}

double ConversationBuffer::managerTalkRatio() const
{
    QMutexLocker locker(&m_mutex);
    const qint64 total = m_sellerWords + m_clientWords;
    if (total == 0)
        return 0.5;
    return static_cast<double>(m_sellerWords) / static_cast<double>(total);
}

qsizetype ConversationBuffer::turnCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_fullText.size();
}

qsizetype ConversationBuffer::clientTurnCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_clientTurns;
}

Stage ConversationBuffer::stage() const
{
    QMutexLocker locker(&m_mutex);
    return m_stage;
}

QStringList ConversationBuffer::ledger() const
{
    QMutexLocker locker(&m_mutex);
    return m_ledger;
}

void ConversationBuffer::setLedger(const QStringList& facts)
{
    QMutexLocker locker(&m_mutex);
    m_ledger.clear();
    m_ledgerSet.clear();
    for (const QString& fact : facts)
        addFactLocked(fact);
}

} // namespace quiro
