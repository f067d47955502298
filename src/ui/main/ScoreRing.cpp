#include "ui/main/ScoreRing.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Spring.h"
#include "ui/main/ScoreTint.h"

#include <QPainter>

#include <algorithm>

namespace quiro {

namespace {
constexpr double lineWidth = 6.0;
// Slower and calmer than the kit's springs: a number that counts should be readable on its way.
constexpr Spring countSpring{1.0, 0.9};
} // namespace

ScoreRing::ScoreRing(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(side, side);
    useSpring<countSpring>(m_count);
    connect(&m_count, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_shown = qint64(std::lround(value.toDouble()));
        update();
    });
}

void ScoreRing::setScore(std::optional<qint64> score)
{
    m_score = score;
    update();
}

void ScoreRing::countUp()
{
    m_count.stop();
    if (!m_score)
        return;
    m_count.setStartValue(double(m_shown));
    m_count.setEndValue(double(*m_score));
    m_count.start();
}

void ScoreRing::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor tint = m_score ? scoreTint(*m_score) : DS::inkFaint;
    const QRectF ring = QRectF(rect()).adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    painter.setPen(QPen(withOpacity(tint, 0.12), lineWidth));
    painter.drawEllipse(ring);
    if (m_score) {
        // Qt counts angles in sixteenths of a degree, counter-clockwise from three o'clock.
        const int span = -int(std::clamp(m_shown, qint64(0), qint64(100)) * 360 * 16 / 100);
        painter.setPen(QPen(tint, lineWidth, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(ring, 90 * 16, span);
    }
    painter.setPen(tint);
    painter.setFont(Fonts::display(22, QFont::Bold));
    painter.drawText(rect(), Qt::AlignCenter, m_score ? QString::number(m_shown) : QStringLiteral("\u2014"));
}

} // namespace quiro
