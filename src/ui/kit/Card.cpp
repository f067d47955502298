#include "ui/kit/Card.h"

#include "ui/kit/RoundedSurface.h"

#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace quiro {

Card::Card(const CardStyle& style, int padding, QWidget* parent)
    : QWidget(parent)
    , m_style(style)
    , m_layout(new QVBoxLayout(this))
{
    const int margin = shadowMargin() + padding;
    m_layout->setContentsMargins(margin, margin, margin, margin);
}

int Card::shadowMargin() const
{
    return int(std::ceil(m_style.shadow.reach()));
}

QRectF Card::cardRect() const
{
    const double reach = shadowMargin();
    return QRectF(rect()).adjusted(reach, reach, -reach, -reach);
}

void Card::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF card = cardRect();
    m_style.shadow.paint(painter, card, m_style.cornerRadius);
    RoundedSurface::paint(painter, card, m_style.cornerRadius, m_style.fill, m_style.border);
}

} // namespace quiro
