#include "overlay/ScoreBand.h"

#include "ui/kit/Glass.h"

namespace quiro {

ScoreBand scoreBand(qint64 score)
{
    if (score >= 80)
        return {Glass::live, QStringLiteral("Great call.")};
    if (score >= 55)
        return {Glass::accent, QStringLiteral("Solid. A few missed moments.")};
    return {Glass::warn, QStringLiteral("Tough one — worth reviewing.")};
}

} // namespace quiro
