#pragma once

#include <QHashFunctions>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace quiro {

// The stages of a sales call. The order of the cases matters: it breaks ties in stage detection.
enum class Stage { opening, discovery, presentation, objection, closing };

// The case name: "opening", "discovery", "presentation", "objection" or "closing".
QString rawValue(Stage stage);

// Exactly one of the five lower-case case names; anything else yields nothing.
std::optional<Stage> stageFromRawValue(const QString& raw);

// Every stage, in case order.
const std::array<Stage, 5>& allStages();

inline size_t qHash(Stage stage, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(stage), seed);
}

// The stage rules of the conversation model. They share the Playbook namespace with the coaching
// tables (coaching/Playbook.h) but live here, since the conversation model cannot depend on coaching.
namespace Playbook {

// The goal sentence of a stage, sent with every hint request.
QString stageGoal(Stage stage);

// Lower-case keywords (matched as substrings) that point to a stage. `opening` has no entry.
const QMap<Stage, QStringList>& stageSignals();

// Infers the stage from the recent transcript (the caller passes only the last 20 lines) and the
// number of turns of the whole call so far, the current one included.
Stage detectStage(const QString& historyText, qsizetype turnCount);

} // namespace Playbook

} // namespace quiro
