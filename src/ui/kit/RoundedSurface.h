#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// The rounded rectangles the design is made of: cards, the overlay's glass, tooltips.
namespace quiro::RoundedSurface {

QPainterPath path(const QRectF& bounds, double radius);

// Fills `bounds` with `fill` and, when `border` is not transparent, draws a one-pixel border on the
// pixels just inside the edge.
void paint(QPainter& painter, const QRectF& bounds, double radius, const QColor& fill,
           const QColor& border = Qt::transparent);

} // namespace quiro::RoundedSurface
