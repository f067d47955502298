#include "ui/kit/QuiroDivider.h"

#include "ui/kit/DS.h"

#include <QPainter>

namespace quiro {

QuiroDivider::QuiroDivider(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void QuiroDivider::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), DS::hairline);
}

} // namespace quiro
