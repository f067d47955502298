#include "ui/onboarding/QuiroIllustration.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Icons.h"
#include "ui/kit/RoundedSurface.h"
#include "ui/kit/Shadow.h"
#include "ui/onboarding/FloatMotion.h"

#include <QPainter>

namespace quiro {

namespace {
constexpr double floatAmplitude = 6.0;
constexpr int floatPeriodMs = 3200;
} // namespace

QuiroIllustration::QuiroIllustration(QWidget* parent)
    : QWidget(parent)
    , m_float(new FloatMotion(this, floatAmplitude, floatPeriodMs))
{
    setFixedSize(sizeHint());
    connect(m_float, &FloatMotion::offsetChanged, this, qOverload<>(&QWidget::update));
}

void QuiroIllustration::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintCallWindow(painter, QRectF(16, 24, 300, 190));
    // The pill floats above the call's corner, as the overlay does on the desktop.
    paintPill(painter, QRectF(164, 8 + m_float->offset(), 208, 44));
}

void QuiroIllustration::paintCallWindow(QPainter& painter, const QRectF& frame) const
{
    Shadow{withOpacity(DS::shadow, 0.08), 18.0, {0.0, 8.0}}.paint(painter, frame, 16.0);
    RoundedSurface::paint(painter, frame, 16.0, DS::surface, DS::hairline);
    // Title bar dots.
    for (int i = 0; i < 3; ++i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(DS::hairline);
        painter.drawEllipse(QPointF(frame.left() + 18 + i * 14, frame.top() + 16), 4, 4);
    }
    // Two participants: the client large, the seller small.
    const QRectF client(frame.left() + 14, frame.top() + 32, frame.width() - 28, frame.height() - 46);
    RoundedSurface::paint(painter, client, 10.0, DS::canvas2, DS::hairline);
    painter.setBrush(DS::blueSoft);
    painter.drawEllipse(client.center() + QPointF(-40, -4), 26, 26);
    painter.setBrush(withOpacity(DS::blue, 0.35));
    painter.drawEllipse(client.center() + QPointF(-40, -10), 10, 10);
    const QRectF seller(client.right() - 86, client.bottom() - 58, 76, 48);
    RoundedSurface::paint(painter, seller, 8.0, DS::greenSoft);
    painter.setBrush(withOpacity(DS::green, 0.5));
    painter.drawEllipse(seller.center(), 9, 9);
}

void QuiroIllustration::paintPill(QPainter& painter, const QRectF& pill) const
{
    const double radius = pill.height() / 2.0;
    Shadow{withOpacity(DS::shadow, 0.25), 14.0, {0.0, 6.0}}.paint(painter, pill, radius);
    RoundedSurface::paint(painter, pill, radius, DS::ink);
    painter.setPen(Qt::NoPen);
    painter.setBrush(DS::accent);
    painter.drawEllipse(QPointF(pill.left() + 22, pill.center().y()), 5, 5);
    Icons::paint(painter, QRectF(pill.right() - 38, pill.top(), 24, pill.height()), u"sparkle", DS::accent, 14);
    painter.setFont(Fonts::text(12.5, QFont::Medium));
    painter.setPen(DS::canvas);
    painter.drawText(pill.adjusted(36, 0, -40, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Ask about budget"));
}

} // namespace quiro
