#include "ui/kit/AccentButton.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr int capsuleHeight = 44;
constexpr double sidePadding = 24.0;
} // namespace

AccentButton::AccentButton(const QString& title, const QString& icon, QWidget* parent)
    : HoverButton(parent)
    , m_icon(icon)
{
    setText(title);
}

HoverButton::Label AccentButton::label() const
{
    return {{}, text(), m_icon, Fonts::text(14, QFont::DemiBold), 16.0, {}};
}

QSize AccentButton::sizeHint() const
{
    return QSize(int(std::ceil(labelSize(label()).width() + 2 * sidePadding)), capsuleHeight);
}

void AccentButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? mix(DS::accent, DS::accentH, hoverLevel()) : DS::hairline);
    const double radius = height() / 2.0;
    painter.drawRoundedRect(rect(), radius, radius);
    paintLabel(painter, rect(), label(), isEnabled() ? DS::ink : DS::inkFaint);
}

} // namespace quiro
