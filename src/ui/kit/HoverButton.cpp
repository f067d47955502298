#include "ui/kit/HoverButton.h"

#include "ui/kit/HoverFade.h"
#include "ui/kit/Icons.h"

#include <QFontMetricsF>
#include <QPainter>

namespace quiro {

HoverButton::HoverButton(QWidget* parent)
    : QAbstractButton(parent)
    , m_hover(new HoverFade(this))
{
    setCursor(Qt::PointingHandCursor);
}

double HoverButton::hoverLevel() const
{
    return m_hover->level();
}

bool HoverButton::isHovered() const
{
    return m_hover->hovered();
}

QSizeF HoverButton::labelSize(const Label& label)
{
    const QFontMetricsF metrics(label.font);
    double width = metrics.horizontalAdvance(label.title);
    for (const QString* icon : {&label.leadingIcon, &label.trailingIcon}) {
        if (!icon->isEmpty())
            width += label.iconSize + (label.title.isEmpty() ? 0.0 : iconGap);
    }
    return {width, qMax(metrics.height(), label.iconSize)};
}

void HoverButton::paintLabel(QPainter& painter, const QRectF& box, const Label& label, const QColor& color)
{
    const QSizeF size = labelSize(label);
    double x = box.center().x() - size.width() / 2.0;
    const QRectF row(x, box.center().y() - size.height() / 2.0, size.width(), size.height());
    const double gap = label.title.isEmpty() ? 0.0 : iconGap;
    const auto icon = [&](const QString& symbol) {
        Icons::paint(painter, QRectF(x, row.top(), label.iconSize, row.height()), symbol,
                     label.iconColor.isValid() ? label.iconColor : color, label.iconSize);
        x += label.iconSize + gap;
    };
    if (!label.leadingIcon.isEmpty())
        icon(label.leadingIcon);
    const double titleWidth = QFontMetricsF(label.font).horizontalAdvance(label.title);
    painter.setFont(label.font);
    painter.setPen(color);
    painter.drawText(QRectF(x, row.top(), titleWidth, row.height()), Qt::AlignVCenter | Qt::AlignLeft, label.title);
    x += titleWidth + gap;
    if (!label.trailingIcon.isEmpty())
        icon(label.trailingIcon);
}

} // namespace quiro
