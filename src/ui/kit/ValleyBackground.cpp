#include "ui/kit/ValleyBackground.h"

#include "ui/kit/DS.h"

#include <QPainter>
#include <QRadialGradient>

namespace quiro {

ValleyBackground::ValleyBackground(QWidget* parent)
    : QWidget(parent)
{
    setAutoFillBackground(false);
}

void ValleyBackground::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), DS::canvas);
    const QPointF centre(width() * 0.85, height() * 0.05);
    QRadialGradient glow(centre, qMax(width(), height()) * 0.7);
    glow.setColorAt(0.0, withOpacity(DS::accent, 0.28));
    glow.setColorAt(0.45, withOpacity(DS::accent, 0.08));
    glow.setColorAt(1.0, withOpacity(DS::accent, 0.0));
    painter.fillRect(rect(), glow);
}

} // namespace quiro
