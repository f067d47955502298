#include "coaching/DecisionEngine.h"

#include "coaching/Playbook.h"
#include "core/Text.h"

namespace quiro {

DecisionEngine::DecisionEngine(const Clock& clock)
    : m_clock(clock)
{
}

std::optional<double> DecisionEngine::shouldFire(const QString& category, Stage stage)
{
    const double now = m_clock.now();

    double score = defaultPriority;
    double cooldownSec = hardCooldownSec;
    if (const auto it = Playbook::basePriority().constFind(category); it != Playbook::basePriority().cend()) {
        score = it.value();
        if (it.value() >= shortCooldownMinPriority)
            cooldownSec = shortCooldownSec;
    }

    if (now - m_lastHintAt < cooldownSec)
        return std::nullopt;

    if (const auto it = m_lastCategoryAt.constFind(category);
        it != m_lastCategoryAt.cend() && now - it.value() < recencyWindowSec)
        score -= recencyPenalty;

    m_recentHintTimes.removeIf([now](double at) { return now - at >= freqWindowSec; });
    score -= freqPenaltyEach * static_cast<double>(m_recentHintTimes.size());

    if (Playbook::stageRelevance(stage).contains(category))
        score += stageBonus;

    if (score < threshold)
        return std::nullopt;
    return score;
}

bool DecisionEngine::isDuplicateText(const QString& text) const
{
    return m_recentHintTexts.contains(normalised(text));
}

void DecisionEngine::commit(const QString& category, const QString& hintText)
{
    const double now = m_clock.now();
    m_lastHintAt = now;
    m_lastCategoryAt.insert(category, now);
    m_recentHintTimes.append(now);

    if (hintText.isEmpty())
        return;
    m_recentHintTexts.append(normalised(hintText));
    if (m_recentHintTexts.size() > rememberedTexts)
        m_recentHintTexts.remove(0, m_recentHintTexts.size() - rememberedTexts);
}

double DecisionEngine::secondsSinceLastHint() const
{
    return m_clock.now() - m_lastHintAt;
}

QString DecisionEngine::normalised(const QString& text)
{
    // Only blanks and tabs are trimmed: hints are single lines, and a line break makes a different text.
    return Text::trimmedBlanksAndTabs(text.toLower());
}

} // namespace quiro
