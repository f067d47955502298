#pragma once

#include "conversation/Stage.h"
#include "core/Clock.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace quiro {

// Rules on whether a candidate hint may be shown now: a hard cooldown after the last shown hint,
// the category's priority, penalties for repeating a category and for showing many hints in a
// short time, a bonus for categories that fit the stage, and a test against recently shown texts.
//
// Not thread-safe and not meant to be: its one user (the coach) runs the duplicate test, the
// scoring and the commit of one candidate as a single step.
class DecisionEngine {
public:
    static constexpr double threshold = 6.0;
    static constexpr double hardCooldownSec = 6.0;
    // Buying signals are worth interrupting for sooner: a closing moment passes quickly.
    static constexpr double shortCooldownSec = 3.0;
    static constexpr int shortCooldownMinPriority = 9;
    static constexpr double recencyWindowSec = 25.0;
    static constexpr double recencyPenalty = 5.0;
    static constexpr double freqWindowSec = 30.0;
    static constexpr double freqPenaltyEach = 1.5;
    static constexpr double stageBonus = 2.0;
    static constexpr double defaultPriority = 5.0;
    static constexpr qsizetype rememberedTexts = 5;

    explicit DecisionEngine(const Clock& clock = Clock::system());

    // The score (at least `threshold`) when the hint may fire now, nothing otherwise. Drops hint
    // times older than the frequency window as a side effect once the cooldown has passed.
    std::optional<double> shouldFire(const QString& category, Stage stage);

    // Whether the text, lower-cased and trimmed of blanks and tabs, equals one of the last shown texts.
    bool isDuplicateText(const QString& text) const;

    // Records that a hint was shown. An empty text moves the clocks but is not remembered.
    void commit(const QString& category, const QString& hintText = {});

    // Seconds since the last committed hint; since 1970 before the first one, i.e. very large.
    double secondsSinceLastHint() const;

private:
    static QString normalised(const QString& text);

    const Clock& m_clock;
    double m_lastHintAt = 0.0;
    QHash<QString, double> m_lastCategoryAt;
    QList<double> m_recentHintTimes;
    QStringList m_recentHintTexts;
};

} // namespace quiro
