#include "overlay/BreathingDot.h"

#include <QPainter>

#include <cmath>
#include <numbers>

namespace quiro {

namespace {
constexpr double inhaled = 0.55;
constexpr double exhaled = 0.2;
constexpr double coreFraction = 0.5;
} // namespace

BreathingDot::BreathingDot(const QColor& color, int size, QWidget* parent)
    : QWidget(parent)
    , m_color(color)
{
    setFixedSize(size, size);
    // One loop is a breath in and out; the cosine eases in and out at both ends.
    m_breath.setStartValue(0.0);
    m_breath.setEndValue(1.0);
    m_breath.setDuration(2 * breathMs);
    m_breath.setLoopCount(-1);
    connect(&m_breath, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void BreathingDot::setColor(const QColor& color)
{
    m_color = color;
    update();
}

double BreathingDot::opacity() const
{
    const double phase = m_breath.currentValue().toDouble();
    return exhaled + (inhaled - exhaled) * (0.5 + 0.5 * std::cos(2.0 * std::numbers::pi * phase));
}

void BreathingDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor halo = m_color;
    halo.setAlphaF(float(m_color.alphaF() * opacity()));
    painter.setBrush(halo);
    painter.drawEllipse(QRectF(rect()));
    // A steady core inside the breathing halo keeps the colour legible at a glance.
    painter.setBrush(m_color);
    const double core = width() * coreFraction;
    painter.drawEllipse(QRectF(rect()).center(), core / 2.0, core / 2.0);
}

void BreathingDot::showEvent(QShowEvent* event)
{
    m_breath.start();
    QWidget::showEvent(event);
}

void BreathingDot::hideEvent(QHideEvent* event)
{
    m_breath.stop();
    QWidget::hideEvent(event);
}

} // namespace quiro
