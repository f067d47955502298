#include "ui/onboarding/BrandPanel.h"

#include "ui/kit/AppIcon.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/onboarding/SymbolBadge.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRadialGradient>
#include <QVBoxLayout>

namespace quiro {

namespace {
const QColor panelInk = hexColor("#0A0A0A");
constexpr int markSide = 44;
constexpr int dotSide = 8;
} // namespace

BrandPanel::BrandPanel(QWidget* parent)
    : QWidget(parent)
{
    auto* mark = new QLabel(this);
    mark->setPixmap(appIcon().pixmap(markSide));

    QLabel* headline = makeLabel(QStringLiteral("The quiet coach for\nevery important call."),
                                 Fonts::display(26, QFont::DemiBold), DS::canvas, this);
    QLabel* body =
        makeLabel(QStringLiteral("Quiro listens in real time and shows you\na short hint exactly when you need it."),
                  Fonts::text(14), white(0.62), this);

    // The line the accent dot stands beside. The call's sound goes to the coaching service, but
    // every finished call is kept only in ~/.quiroai on this computer.
    auto* dot = new SymbolBadge({}, {Qt::transparent, DS::accent, dotSide, 0.0, dotSide / 2.0}, this);
    auto* promise = new QHBoxLayout;
    promise->setSpacing(10);
    promise->addWidget(dot, 0, Qt::AlignVCenter);
    promise->addWidget(makeLabel(QStringLiteral("Your call history stays on this machine."),
                                 Fonts::text(13, QFont::Medium), white(0.86), this));
    promise->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(44, 44, 44, 44);
    layout->setSpacing(0);
    layout->addWidget(mark, 0, Qt::AlignLeft);
    layout->addStretch(1);
    layout->addWidget(headline);
    layout->addSpacing(16);
    layout->addWidget(body);
    layout->addSpacing(36);
    layout->addLayout(promise);
}

void BrandPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), panelInk);
    // A low accent glow from the lower right, the dark counterpart of the valley background.
    QRadialGradient glow(QPointF(width() * 0.9, height() * 0.95), qMax(width(), height()) * 0.75);
    glow.setColorAt(0.0, withOpacity(DS::accent, 0.22));
    glow.setColorAt(0.5, withOpacity(DS::accent, 0.05));
    glow.setColorAt(1.0, withOpacity(DS::accent, 0.0));
    painter.fillRect(rect(), glow);
}

} // namespace quiro
