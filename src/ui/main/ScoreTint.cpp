#include "ui/main/ScoreTint.h"

#include "ui/kit/DS.h"

namespace quiro {

QColor scoreTint(qint64 score)
{
    if (score >= 80)
        return DS::green;
    return score >= 55 ? DS::inkSoft : DS::red;
}

} // namespace quiro
