#include "session/CallScore.h"

#include "conversation/WordCount.h"

#include <algorithm>

namespace quiro::CallScore {

double talkRatio(const QList<TurnRecord>& turns)
{
    qint64 sellerWords = 0;
    qint64 clientWords = 0;
    for (const TurnRecord& turn : turns) {
        if (turn.speaker == TurnRecord::managerTag)
            sellerWords += wordCount(turn.text);
        else if (turn.speaker == TurnRecord::clientTag)
            clientWords += wordCount(turn.text);
    }
    const qint64 total = sellerWords + clientWords;
    return total == 0 ? 0.5 : double(sellerWords) / double(total);
}

qint64 estimate(double talkRatio, qint64 hintCount, double durationSeconds)
{
    const double excess = talkRatio - 0.38;
    const auto penalty = excess >= 0 ? qint64(excess * 80.0) : qint64(0); // truncated toward zero
    qint64 score = 70 - penalty;
    score += std::min<qint64>(hintCount * 3, 15);
    if (durationSeconds / 60.0 >= 3.0)
        score += 5;
    return std::max<qint64>(std::min<qint64>(score, 100), 20);
}

double speechToTextCostUSD(double durationSeconds, qint64 streams)
{
    return durationSeconds / 60.0 * 0.0043 * double(streams);
}

} // namespace quiro::CallScore
