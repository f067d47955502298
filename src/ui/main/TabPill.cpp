#include "ui/main/TabPill.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr double horizontalPadding = 18.0;
constexpr int pillHeight = 32;
} // namespace

TabPill::TabPill(const QString& title, QWidget* parent)
    : HoverButton(parent)
{
    setText(title);
    setCheckable(true);
    setAutoExclusive(true);
    setFocusPolicy(Qt::TabFocus);
}

HoverButton::Label TabPill::label() const
{
    return {{}, text(), {}, Fonts::text(13, QFont::DemiBold), 0.0, {}};
}

QSize TabPill::sizeHint() const
{
    return {int(std::ceil(labelSize(label()).width() + 2 * horizontalPadding)), pillHeight};
}

void TabPill::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = height() / 2.0;
    if (!isChecked()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(withOpacity(DS::ink, 0.06 * hoverLevel()));
        painter.drawRoundedRect(rect(), radius, radius);
    }
    paintLabel(painter, rect(), label(), isChecked() ? DS::canvas : mix(DS::inkSoft, DS::ink, hoverLevel()));
}

} // namespace quiro
