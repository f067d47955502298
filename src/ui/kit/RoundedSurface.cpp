#include "ui/kit/RoundedSurface.h"

#include <QPainter>

namespace quiro::RoundedSurface {

QPainterPath path(const QRectF& bounds, double radius)
{
    QPainterPath rounded;
    rounded.addRoundedRect(bounds, radius, radius);
    return rounded;
}

void paint(QPainter& painter, const QRectF& bounds, double radius, const QColor& fill, const QColor& border)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path(bounds, radius), fill);
    if (border.alpha() > 0) {
        painter.setPen(QPen(border, 1.0));
        painter.setBrush(Qt::NoBrush);
        // Half a pixel in, so the line falls on whole pixels.
        painter.drawPath(path(bounds.adjusted(0.5, 0.5, -0.5, -0.5), radius));
    }
    painter.restore();
}

} // namespace quiro::RoundedSurface
