#include "ui/kit/ValleyButton.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Shadow.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr double capsuleHeight = 44.0;
constexpr double sidePadding = 22.0;

// The shadow's opacity is 0.2 at rest and 0.35 under the pointer.
Shadow shadowAt(double hoverLevel)
{
    return {withOpacity(DS::ink, 0.2 + 0.15 * hoverLevel), 10.0, {0.0, 4.0}};
}

int shadowMargin()
{
    return int(std::ceil(shadowAt(0.0).reach()));
}
} // namespace

ValleyButton::ValleyButton(const QString& title, const QString& icon, QWidget* parent)
    : HoverButton(parent)
    , m_icon(icon)
{
    setText(title);
}

void ValleyButton::setSymbol(const QString& icon)
{
    m_icon = icon;
    updateGeometry();
    update();
}

HoverButton::Label ValleyButton::label() const
{
    return {m_icon, text(), {}, Fonts::text(14, QFont::DemiBold), 16.0, mix(DS::accent, DS::accentH, hoverLevel())};
}

QRectF ValleyButton::capsule() const
{
    const int margin = shadowMargin();
    return QRectF(rect()).adjusted(margin, margin, -margin, -margin);
}

QSize ValleyButton::sizeHint() const
{
    const int margin = shadowMargin();
    return QSize(int(std::ceil(labelSize(label()).width() + 2 * sidePadding)) + 2 * margin,
                 int(capsuleHeight) + 2 * margin);
}

void ValleyButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF shape = capsule();
    const double radius = shape.height() / 2.0;
    shadowAt(hoverLevel()).paint(painter, shape, radius);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? DS::ink : DS::inkFaint);
    painter.drawRoundedRect(shape, radius, radius);
    paintLabel(painter, shape, label(), DS::canvas);
}

} // namespace quiro
