#pragma once

#include "history/TurnRecord.h"

#include <QList>

namespace quiro::CallScore {

// The seller's share of all transcribed words; 0.5 when nobody said anything.
double talkRatio(const QList<TurnRecord>& turns);

// The local estimate of a call's score before (or without) the service's analysis: 70, less 80
// points per unit of talk share above 0.38, 3 per hint up to 15, 5 more for calls of three minutes
// or longer, kept within 20..100.
qint64 estimate(double talkRatio, qint64 hintCount, double durationSeconds);

// Speech-to-text cost in US dollars: 0.0043 per stream-minute.
double speechToTextCostUSD(double durationSeconds, qint64 streams);

} // namespace quiro::CallScore
