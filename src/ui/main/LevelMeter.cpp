#include "ui/main/LevelMeter.h"

#include "ui/kit/DS.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace quiro {

namespace {
constexpr int segments = 20;
constexpr double gap = 2.0;
constexpr double fallPerReading = 0.08;
} // namespace

LevelMeter::LevelMeter(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
}

void LevelMeter::setLevel(double dbfs)
{
    const double reached = std::isfinite(dbfs) ? std::clamp(1.0 - dbfs / floorDbfs, 0.0, 1.0) : 0.0;
    m_fill = std::max(reached, m_fill - fallPerReading);
    update();
}

void LevelMeter::clear()
{
    m_fill = 0.0;
    update();
}

void LevelMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double width = (this->width() - gap * (segments - 1)) / segments;
    const int lit = int(std::lround(m_fill * segments));
    for (int i = 0; i < segments; ++i) {
        painter.setBrush(i < lit ? DS::green : DS::hairline);
        painter.drawRoundedRect(QRectF(i * (width + gap), 0, width, height()), 1.5, 1.5);
    }
}

} // namespace quiro
