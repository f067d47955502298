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

void BreathingDot::setBreathing(bool breathing)
{
    m_breathing = breathing;
    updateBreath();
}

void BreathingDot::updateBreath()
{
    if (m_breathing && isVisible()) {
        if (m_breath.state() != QAbstractAnimation::Running)
            m_breath.start();
        return;
    }
    m_breath.stop();
    m_breath.setCurrentTime(0); // at rest the halo is fully in
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
    QWidget::showEvent(event);
    updateBreath();
}

void BreathingDot::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateBreath();
}

} // namespace quiro
