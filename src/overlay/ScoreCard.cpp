#include "overlay/ScoreCard.h"

#include "overlay/ScoreBand.h"
#include "ui/kit/AccentButton.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Glass.h"
#include "ui/kit/Labels.h"
#include "ui/kit/RoundedSurface.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace quiro {

namespace {
constexpr double cornerRadius = 14.0;
constexpr int cardWidth = 220;
constexpr QColor cardFill = hexColor("#141416");
} // namespace

ScoreCard::ScoreCard(qint64 score, std::function<void()> onOpen, QWidget* parent)
    : QWidget(parent)
{
    const ScoreBand band = scoreBand(score);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 16);
    layout->setSpacing(6);
    layout->addWidget(makeLabel(QString::number(score), Fonts::display(34, QFont::Bold), band.color, this));
    QLabel* verdict = makeLabel(band.verdict, Fonts::text(13, QFont::Medium), Glass::text, this);
    verdict->setWordWrap(true);
    layout->addWidget(verdict);
    layout->addSpacing(6);
    auto* debrief = new AccentButton(QStringLiteral("Full debrief"), QStringLiteral("arrow.right"), this);
    debrief->setFocusPolicy(Qt::NoFocus);
    debrief->setFixedHeight(32);
    connect(debrief, &QAbstractButton::clicked, this, std::move(onOpen));
    layout->addWidget(debrief, 0, Qt::AlignLeft);
    setFixedWidth(cardWidth);
}

QPainterPath ScoreCard::shape(const QRectF& bounds)
{
    return RoundedSurface::path(bounds, cornerRadius);
}

void ScoreCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    RoundedSurface::paint(painter, rect(), cornerRadius, cardFill, white(0.1));
}

} // namespace quiro
