#pragma once

#include <QColor>
#include <QString>

namespace quiro {

// How a call's score reads: green from 80, accent from 55, red below.
struct ScoreBand {
    QColor color;
    QString verdict;
};

ScoreBand scoreBand(qint64 score);

} // namespace quiro
