#include "ui/main/ScoreTrend.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/main/ScoreTint.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace quiro {

namespace {
constexpr int chartHeight = 96;
constexpr double dotRadius = 3.5;
constexpr double scaleWidth = 28.0;
} // namespace

QList<qint64> ScoreTrend::scores(const QList<SessionRecord>& records)
{
    QList<qint64> result;
    for (const SessionRecord& record : records) {
        if (result.size() == maxCalls)
            break;
        if (record.score && !record.turns.isEmpty())
            result.prepend(*record.score);
    }
    return result;
}

ScoreTrend::ScoreTrend(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ScoreTrend::setScores(QList<qint64> scores)
{
    m_scores = std::move(scores);
    update();
}

QSize ScoreTrend::sizeHint() const
{
    return {560, chartHeight};
}

void ScoreTrend::paintEvent(QPaintEvent*)
{
    if (!hasTrend())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = QRectF(rect()).adjusted(scaleWidth, dotRadius + 6, -dotRadius - 2, -dotRadius - 6);
    const auto y = [&](qint64 score) { return plot.bottom() - plot.height() * std::clamp(score, 0LL, 100LL) / 100.0; };
    const auto x = [&](qsizetype index) { return plot.left() + plot.width() * double(index) / (m_scores.size() - 1); };

    painter.setFont(Fonts::text(10.5));
    for (const qint64 mark : {0, 50, 100}) {
        painter.setPen(QPen(DS::hairline, 1.0, mark == 50 ? Qt::DashLine : Qt::SolidLine));
        painter.drawLine(QPointF(plot.left(), y(mark)), QPointF(plot.right(), y(mark)));
        painter.setPen(DS::inkFaint);
        painter.drawText(QRectF(0, y(mark) - 8, scaleWidth - 8, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(mark));
    }

    QPainterPath line;
    for (qsizetype i = 0; i < m_scores.size(); ++i) {
        const QPointF point(x(i), y(m_scores[i]));
        i == 0 ? line.moveTo(point) : line.lineTo(point);
    }
    painter.setPen(QPen(DS::ink, 1.75, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(line);

    for (qsizetype i = 0; i < m_scores.size(); ++i) {
        painter.setPen(QPen(DS::surface, 1.5));
        painter.setBrush(scoreTint(m_scores[i]));
        painter.drawEllipse(QPointF(x(i), y(m_scores[i])), dotRadius, dotRadius);
    }
}

} // namespace quiro
