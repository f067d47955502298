#include "ui/kit/CostPill.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr double horizontalPadding = 10.0;
constexpr double gap = 6.0;
constexpr int pillHeight = 24;

QFont labelFont()
{
    return Fonts::text(11, QFont::Medium);
}

QFont costFont()
{
    return Fonts::text(11, QFont::DemiBold);
}
} // namespace

CostPill::CostPill(const QString& label, double cost, const QColor& color, QWidget* parent)
    : QWidget(parent)
    , m_label(label)
    , m_cost(cost)
    , m_color(color)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString CostPill::costText() const
{
    return QStringLiteral("$") + QString::number(m_cost, 'f', 4);
}

QSize CostPill::sizeHint() const
{
    const double width = QFontMetricsF(labelFont()).horizontalAdvance(m_label) + gap +
                         QFontMetricsF(costFont()).horizontalAdvance(costText()) + 2 * horizontalPadding;
    return {int(std::ceil(width)), pillHeight};
}

void CostPill::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(m_color, 0.12));
    painter.drawRoundedRect(rect(), height() / 2.0, height() / 2.0);

    QRectF text = QRectF(rect()).adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    painter.setFont(labelFont());
    painter.setPen(DS::inkSoft);
    painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft, m_label);
    painter.setFont(costFont());
    painter.setPen(m_color);
    painter.drawText(text, Qt::AlignVCenter | Qt::AlignRight, costText());
}

} // namespace quiro
