#pragma once

#include "conversation/Stage.h"

#include <QHash>
#include <QSet>
#include <QString>

// The fixed rule knowledge of the coaching engine: hint categories, their labels, fallback
// phrases, priorities and stage relevance. Every table is built once on first use (function-local
// statics, so the initialisation is thread-safe) and is immutable afterwards. The stage rules
// (stageGoal, stageSignals, detectStage) are in conversation/Stage.h, same namespace.
namespace quiro::Playbook {

// How much a category matters. Categories missing here score the default the decision engine uses.
const QHash<QString, int>& basePriority();
// The short title shown with a hint: one emoji, one blank, the words.
const QHash<QString, QString>& labels();
// A phrase to show when the hint service gives a category but no usable text.
const QHash<QString, QString>& fallback();
// The categories that earn the stage bonus in a stage.
const QSet<QString>& stageRelevance(Stage stage);

// The label of a category, or "💡 Hint" for one without a label.
QString label(const QString& category);

// The category for the hint service's "sub_type" and "intent" fields (a field the service did not
// send is passed as the empty string). Comparisons are exact and case-sensitive.
QString mapCategory(const QString& subType, const QString& intent);

} // namespace quiro::Playbook
