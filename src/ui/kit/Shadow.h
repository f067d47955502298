#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>

class QPainter;

namespace quiro {

// A soft drop shadow under a rounded rectangle, painted by the widget itself: Qt's
// QGraphicsDropShadowEffect renders the whole widget off screen on every repaint, which a card
// full of children cannot afford. `color` carries the shadow's opacity; it fades out over `blur`.
struct Shadow {
    QColor color;
    double blur = 0.0;
    QPointF offset;

    void paint(QPainter& painter, const QRectF& shape, double cornerRadius) const;
    // The room the shadow needs around its shape.
    double reach() const { return blur + qMax(qAbs(offset.x()), qAbs(offset.y())); }
};

} // namespace quiro
