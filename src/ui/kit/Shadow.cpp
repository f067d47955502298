#include "ui/kit/Shadow.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace quiro {

void Shadow::paint(QPainter& painter, const QRectF& shape, double cornerRadius) const
{
    const int rings = int(std::ceil(blur));
    if (rings <= 0 || color.alpha() == 0)
        return;
    // Rings stacked from the widest inwards: at distance d outside the shape the rings wider than d
    // add up to color * (1 - d / blur)^2, a falloff that reads as soft light rather than a border.
    const auto strength = [this](double distance) {
        const double remaining = 1.0 - distance / blur;
        return remaining * remaining;
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int ring = rings; ring >= 0; --ring) {
        const double layer = strength(ring) - (ring < rings ? strength(ring + 1) : 0.0);
        QColor tone = color;
        tone.setAlphaF(float(color.alphaF() * layer));
        painter.setBrush(tone);
        const QRectF grown = shape.adjusted(-ring, -ring, ring, ring).translated(offset);
        painter.drawRoundedRect(grown, cornerRadius + ring, cornerRadius + ring);
    }
    painter.restore();
}

} // namespace quiro
