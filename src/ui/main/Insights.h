#pragma once

#include "history/SessionRecord.h"

#include <QColor>
#include <QList>
#include <QString>

namespace quiro {

// One figure of Home's insights strip: "12" over "calls".
struct Insight {
    QString value;
    QString label;
    QColor tint;

    bool operator==(const Insight&) const = default;
};

// The loaded calls at a glance, left to right: how many, their minutes in total, the average score
// (only when a call has one; green from 70, grey from 50, red below) and the seller's average
// share of the talking (only when a call has a talk ratio; green below 56 %, grey otherwise).
// Averages are truncated, never rounded up into a better band.
QList<Insight> insights(const QList<SessionRecord>& records);

} // namespace quiro
