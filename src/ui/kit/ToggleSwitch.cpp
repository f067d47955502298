#include "ui/kit/ToggleSwitch.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr QSizeF trackSize{36.0, 20.0};
constexpr double knobInset = 2.0;
constexpr double titleGap = 16.0;
constexpr double verticalPadding = 6.0;

QFont titleFont()
{
    return Fonts::text(13);
}
} // namespace

ToggleSwitch::ToggleSwitch(const QString& title, QWidget* parent)
    : HoverButton(parent)
{
    setText(title);
    setCheckable(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const
{
    const QSizeF title = labelSize({{}, text(), {}, titleFont(), 0.0, {}});
    return QSize(int(std::ceil(title.width() + titleGap + trackSize.width())),
                 int(std::ceil(qMax(title.height(), trackSize.height()) + 2 * verticalPadding)));
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(titleFont());
    painter.setPen(isEnabled() ? DS::ink : DS::inkFaint);
    const QRectF titleBox(0, 0, width() - trackSize.width() - titleGap, height());
    painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter, text());

    const QRectF track(QPointF(width() - trackSize.width(), (height() - trackSize.height()) / 2), trackSize);
    const QColor off = mix(DS::hairline, DS::inkFaint, 0.35 * hoverLevel());
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? DS::ink : off);
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);

    const double knob = track.height() - 2 * knobInset;
    const double knobX = isChecked() ? track.right() - knobInset - knob : track.left() + knobInset;
    painter.setBrush(isChecked() ? DS::accent : DS::surface);
    painter.drawEllipse(QRectF(knobX, track.top() + knobInset, knob, knob));
}

} // namespace quiro
