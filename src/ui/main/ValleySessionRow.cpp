#include "ui/main/ValleySessionRow.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Icons.h"
#include "ui/kit/RoundedSurface.h"
#include "ui/main/ScoreTint.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>

namespace quiro {

namespace {
constexpr int rowHeight = 60;
constexpr double cornerRadius = 14.0;
constexpr double badge = 34.0;
} // namespace

ValleySessionRow::ValleySessionRow(SessionRecord record, QWidget* parent)
    : HoverButton(parent)
    , m_record(std::move(record))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(dateText());
}

QString ValleySessionRow::dateText() const
{
    const QLocale locale;
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(qint64(m_record.startedAt * 1000.0), Qt::LocalTime);
    // The locale's short time, which in some locales (C among them) carries seconds a list does not need.
    QString time = locale.timeFormat(QLocale::ShortFormat);
    time.remove(QStringLiteral(":ss"));
    return locale.toString(start.date(), QStringLiteral("MMM d, yyyy")) + QStringLiteral(", ") +
           locale.toString(start.time(), time);
}

QString ValleySessionRow::detailText() const
{
    const qint64 minutes = qint64(std::max(0.0, m_record.durationSeconds()) / 60.0);
    const qsizetype turns = m_record.turns.size();
    const QString length = minutes == 0 ? QStringLiteral("<1 min") : QStringLiteral("%1 min").arg(minutes);
    return QStringLiteral("%1 \u00b7 %2 %3").arg(length).arg(turns).arg(turns == 1 ? "turn" : "turns");
}

QSize ValleySessionRow::sizeHint() const
{
    return {560, rowHeight};
}

void ValleySessionRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF row = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    RoundedSurface::paint(painter, row, cornerRadius, mix(DS::surface, DS::canvas2, hoverLevel()),
                          mix(DS::hairline, withOpacity(DS::ink, 0.18), hoverLevel()));

    const double middle = row.center().y();
    const QRectF badgeBox(row.left() + 14, middle - badge / 2, badge, badge);
    painter.setPen(Qt::NoPen);
    painter.setBrush(DS::accentSoft);
    painter.drawEllipse(badgeBox);
    Icons::paint(painter, badgeBox, u"waveform", DS::ink, 16);

    // Right to left: chevron, score, hints.
    double right = row.right() - 14;
    Icons::paint(painter, QRectF(right - 16, middle - 8, 16, 16), u"chevron.right", DS::inkFaint, 16);
    right -= 16 + 14;
    // A call in which nothing was heard has no score worth showing.
    if (m_record.score && !m_record.turns.isEmpty()) {
        const QFont scoreFont = Fonts::display(17, QFont::Bold);
        const QString score = QString::number(*m_record.score);
        const double width = QFontMetricsF(scoreFont).horizontalAdvance(QStringLiteral("100"));
        painter.setFont(scoreFont);
        painter.setPen(scoreTint(*m_record.score));
        painter.drawText(QRectF(right - width, row.top(), width, row.height()), Qt::AlignRight | Qt::AlignVCenter,
                         score);
        right -= width + 18;
    }
    const QFont countFont = Fonts::text(12.5, QFont::Medium);
    const QString hints = QString::number(m_record.hintCount);
    const double hintsWidth = QFontMetricsF(countFont).horizontalAdvance(hints);
    painter.setFont(countFont);
    painter.setPen(DS::inkSoft);
    painter.drawText(QRectF(right - hintsWidth, row.top(), hintsWidth, row.height()), Qt::AlignVCenter, hints);
    right -= hintsWidth + 4;
    Icons::paint(painter, QRectF(right - 14, middle - 7, 14, 14), u"lightbulb.fill", DS::inkFaint, 13);
    right -= 14 + 16;

    const double textLeft = badgeBox.right() + 12;
    const QRectF text(textLeft, row.top(), right - textLeft, row.height());
    painter.setPen(DS::ink);
    painter.setFont(Fonts::text(13.5, QFont::DemiBold));
    painter.drawText(text.adjusted(0, 0, 0, -row.height() / 2 + 1), Qt::AlignLeft | Qt::AlignBottom, dateText());
    painter.setPen(DS::inkFaint);
    painter.setFont(Fonts::text(12));
    painter.drawText(text.adjusted(0, row.height() / 2 + 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, detailText());
}

} // namespace quiro
