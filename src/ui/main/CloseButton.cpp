#include "ui/main/CloseButton.h"

#include "ui/kit/DS.h"
#include "ui/kit/Icons.h"

#include <QPainter>

namespace quiro {

CloseButton::CloseButton(QWidget* parent)
    : HoverButton(parent)
{
    setAccessibleName(QStringLiteral("Close"));
    setFixedSize(sizeHint());
}

void CloseButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(DS::ink, 0.06 + 0.06 * hoverLevel()));
    painter.drawEllipse(rect());
    Icons::paint(painter, rect(), u"xmark", mix(DS::inkSoft, DS::ink, hoverLevel()), 15);
}

} // namespace quiro
