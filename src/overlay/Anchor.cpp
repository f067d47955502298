#include "overlay/Anchor.h"

namespace quiro {

Anchor Anchor::retakenFrom(const QRectF& frame) const
{
    return {edge, edge == Edge::top ? frame.top() : frame.center().y()};
}

QRectF Anchor::frameFor(double midX, const QSizeF& size) const
{
    const double top = edge == Edge::top ? y : y - size.height() / 2.0;
    return {midX - size.width() / 2.0, top, size.width(), size.height()};
}

} // namespace quiro
