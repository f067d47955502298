#include "ui/main/ProgressSpinner.h"

#include <QPainter>

namespace quiro {

ProgressSpinner::ProgressSpinner(const QColor& color, int side, QWidget* parent)
    : QWidget(parent)
    , m_color(color)
    , m_side(side)
{
    setFixedSize(side, side);
    m_turn.setStartValue(0.0);
    m_turn.setEndValue(360.0);
    m_turn.setDuration(900);
    m_turn.setLoopCount(-1);
    connect(&m_turn, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void ProgressSpinner::showEvent(QShowEvent*)
{
    m_turn.start();
}

void ProgressSpinner::hideEvent(QHideEvent*)
{
    m_turn.stop();
}

void ProgressSpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double pen = m_side / 8.0;
    const QRectF circle = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.setPen(QPen(m_color, pen, Qt::SolidLine, Qt::RoundCap));
    const int from = int(-m_turn.currentValue().toDouble() * 16);
    painter.drawArc(circle, from, 270 * 16);
}

} // namespace quiro
