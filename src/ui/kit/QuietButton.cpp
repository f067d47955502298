#include "ui/kit/QuietButton.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr double horizontalPadding = 12.0;
constexpr double verticalPadding = 7.0;
constexpr double cornerRadius = 8.0;
} // namespace

QuietButton::QuietButton(const QString& title, QWidget* parent)
    : HoverButton(parent)
{
    setText(title);
}

HoverButton::Label QuietButton::label() const
{
    return {{}, text(), {}, Fonts::text(13, QFont::Medium), 0.0, {}};
}

QSize QuietButton::sizeHint() const
{
    const QSizeF size = labelSize(label());
    return QSize(int(std::ceil(size.width() + 2 * horizontalPadding)),
                 int(std::ceil(size.height() + 2 * verticalPadding)));
}

void QuietButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(DS::ink, 0.06 * hoverLevel()));
    painter.drawRoundedRect(rect(), cornerRadius, cornerRadius);
    paintLabel(painter, rect(), label(), mix(DS::inkSoft, DS::ink, hoverLevel()));
}

} // namespace quiro
