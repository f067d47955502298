#include "overlay/GlassButton.h"

#include "overlay/TooltipWindow.h"
#include "ui/kit/Glass.h"
#include "ui/kit/Icons.h"

#include <QPainter>

namespace quiro {

GlassButton::GlassButton(const QString& icon, const QColor& tint, const QString& tip, const Style& style,
                         QWidget* parent)
    : HoverButton(parent)
    , m_icon(icon)
    , m_tint(tint)
    , m_tip(tip)
    , m_style(style)
{
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(m_style.diameter, m_style.diameter);
    TooltipWindow::attach(this, [this] { return m_tip; });
}

GlassButton::GlassButton(const QString& icon, const QColor& tint, const QString& tip, QWidget* parent)
    : GlassButton(icon, tint, tip, Style{}, parent)
{
}

void GlassButton::setIcon(const QString& icon, const QColor& tint)
{
    m_icon = icon;
    m_tint = tint;
    update();
}

void GlassButton::setTip(const QString& tip)
{
    m_tip = tip;
}

QSize GlassButton::sizeHint() const
{
    return {m_style.diameter, m_style.diameter};
}

void GlassButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(mix(m_style.restingFill, white(0.12), hoverLevel()));
    painter.drawEllipse(QRectF(rect()));
    Icons::paint(painter, rect(), m_icon, mix(m_tint, Glass::text, hoverLevel()), m_style.iconSize, m_style.weight);
}

} // namespace quiro
