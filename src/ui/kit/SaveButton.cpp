#include "ui/kit/SaveButton.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr double horizontalPadding = 18.0;
constexpr int buttonHeight = 34;
constexpr double cornerRadius = 10.0;
} // namespace

SaveButton::SaveButton(QWidget* parent)
    : HoverButton(parent)
{
}

void SaveButton::setSaved(bool saved)
{
    if (saved == m_saved)
        return;
    m_saved = saved;
    updateGeometry();
    update();
}

HoverButton::Label SaveButton::label() const
{
    const QFont font = Fonts::text(13, QFont::DemiBold);
    if (m_saved)
        return {QStringLiteral("checkmark"), QStringLiteral("Saved"), {}, font, 14.0, {}};
    return {{}, QStringLiteral("Save"), {}, font, 0.0, {}};
}

QSize SaveButton::sizeHint() const
{
    return QSize(int(std::ceil(labelSize(label()).width() + 2 * horizontalPadding)), buttonHeight);
}

void SaveButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_saved ? DS::moss : mix(DS::saveButton, DS::ink, hoverLevel()));
    painter.drawRoundedRect(rect(), cornerRadius, cornerRadius);
    paintLabel(painter, rect(), label(), DS::canvas);
}

} // namespace quiro
