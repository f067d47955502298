#include "overlay/ScorePill.h"

#include "overlay/ScoreBand.h"
#include "overlay/TooltipWindow.h"
#include "ui/kit/Color.h"
#include "ui/kit/Fonts.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr int pillHeight = 24;
constexpr double horizontalPadding = 10.0;
} // namespace

ScorePill::ScorePill(QWidget* parent)
    : HoverButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    TooltipWindow::attach(this, [] { return QStringLiteral("Call summary"); });
}

void ScorePill::setScore(qint64 score)
{
    m_score = score;
    updateGeometry();
    update();
}

HoverButton::Label ScorePill::label() const
{
    return {{}, QString::number(m_score), {}, Fonts::display(13, QFont::Bold), 0.0, {}};
}

QSize ScorePill::sizeHint() const
{
    return {int(std::ceil(labelSize(label()).width() + 2 * horizontalPadding)), pillHeight};
}

void ScorePill::paintEvent(QPaintEvent*)
{
    const ScoreBand band = scoreBand(m_score);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(band.color, 0.18 + 0.1 * hoverLevel()));
    painter.drawRoundedRect(rect(), height() / 2.0, height() / 2.0);
    paintLabel(painter, rect(), label(), band.color);
}

} // namespace quiro
