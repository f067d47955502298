#include "ui/main/WidgetStyleChoice.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Icons.h"

#include <QPainter>

namespace quiro {

namespace {
constexpr double cornerRadius = 14.0;
constexpr double padding = 14.0;
} // namespace

WidgetStyleChoice::WidgetStyleChoice(const QString& icon, const QString& title, const QString& description,
                                     QWidget* parent)
    : HoverButton(parent)
    , m_icon(icon)
    , m_description(description)
{
    setText(title);
    setCheckable(true);
    setAutoExclusive(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
}

void WidgetStyleChoice::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool chosen = isChecked();
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(QPen(chosen ? DS::ink : mix(DS::hairline, DS::inkFaint, hoverLevel()), chosen ? 1.5 : 1.0));
    painter.setBrush(chosen ? DS::canvas2 : DS::surface);
    painter.drawRoundedRect(box, cornerRadius, cornerRadius);

    const QRectF inner = box.adjusted(padding, padding, -padding, -padding);
    Icons::paint(painter, QRectF(inner.left(), inner.top(), 22, 22), m_icon, chosen ? DS::ink : DS::inkSoft, 20);
    if (chosen)
        Icons::paint(painter, QRectF(inner.right() - 18, inner.top(), 18, 18), u"checkmark.circle.fill", DS::ink, 17);
    painter.setPen(DS::ink);
    painter.setFont(Fonts::text(13, QFont::DemiBold));
    const QRectF title(inner.left(), inner.top() + 30, inner.width(), 20);
    painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter, text());
    painter.setPen(DS::inkSoft);
    painter.setFont(Fonts::text(12));
    painter.drawText(QRectF(inner.left(), title.bottom() + 2, inner.width(), inner.bottom() - title.bottom() - 2),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_description);
}

} // namespace quiro
