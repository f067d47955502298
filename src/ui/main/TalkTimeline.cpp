#include "ui/main/TalkTimeline.h"

#include "history/TurnRecord.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"

#include <QPainter>
#include <QRegularExpression>

#include <algorithm>

namespace quiro {

namespace {
constexpr int laneHeight = 14;
constexpr int laneGap = 10;
constexpr int labelWidth = 44;
constexpr int axisHeight = 18;
constexpr double shortestBar = 2.0; // a one-word turn still shows

const QColor& laneColor(bool seller)
{
    return seller ? DS::ink : DS::green;
}

QString clockText(double seconds)
{
    const qint64 whole = qint64(std::max(0.0, seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

TalkTimeline::Layout TalkTimeline::layout(const SessionRecord& record)
{
    Layout result;
    double lastArrival = 0;
    for (const TurnRecord& turn : record.turns)
        lastArrival = std::max(lastArrival, turn.timestamp - record.startedAt);
    result.length = std::max({record.durationSeconds(), lastArrival, 1.0});

    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    double floor = 0;
    for (const TurnRecord& turn : record.turns) {
        const double end = std::clamp(turn.timestamp - record.startedAt, floor, result.length);
        const qsizetype words = turn.text.split(blanks, Qt::SkipEmptyParts).size();
        const double start = std::max(end - double(words) / wordsPerSecond, floor);
        result.spans.append({turn.speaker == TurnRecord::managerTag, start, end});
        floor = end;
    }
    return result;
}

TalkTimeline::TalkTimeline(const SessionRecord& record, QWidget* parent)
    : QWidget(parent)
    , m_layout(layout(record))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TalkTimeline::sizeHint() const
{
    return {560, 2 * laneHeight + laneGap + axisHeight};
}

QSize TalkTimeline::minimumSizeHint() const
{
    return {240, sizeHint().height()};
}

void TalkTimeline::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF axis(labelWidth, 0, width() - labelWidth, height());
    const double scale = axis.width() / m_layout.length;

    painter.setFont(Fonts::text(11, QFont::Medium));
    for (const bool seller : {true, false}) {
        const QRectF lane(axis.left(), seller ? 0 : laneHeight + laneGap, axis.width(), laneHeight);
        painter.setPen(DS::inkSoft);
        painter.drawText(QRectF(0, lane.top(), labelWidth - 8, laneHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         TurnRecord::speakerName(seller ? TurnRecord::managerTag : TurnRecord::clientTag));
        painter.setPen(Qt::NoPen);
        painter.setBrush(DS::canvas2);
        painter.drawRoundedRect(lane, 4, 4);
        painter.setBrush(laneColor(seller));
        for (const Span& span : m_layout.spans) {
            if (span.seller != seller)
                continue;
            const double width = std::max(shortestBar, (span.end - span.start) * scale);
            const double left = std::min(axis.left() + span.start * scale, axis.right() - width);
            painter.drawRoundedRect(QRectF(left, lane.top(), width, laneHeight), 3, 3);
        }
    }

    const QRectF ticks(axis.left(), 2 * laneHeight + laneGap, axis.width(), axisHeight);
    painter.setPen(DS::inkFaint);
    painter.setFont(Fonts::text(10.5));
    painter.drawText(ticks, Qt::AlignLeft | Qt::AlignBottom, clockText(0));
    painter.drawText(ticks, Qt::AlignHCenter | Qt::AlignBottom, clockText(m_layout.length / 2));
    painter.drawText(ticks, Qt::AlignRight | Qt::AlignBottom, clockText(m_layout.length));
}

} // namespace quiro
