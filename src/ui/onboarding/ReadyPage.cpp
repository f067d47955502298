#include "ui/onboarding/ReadyPage.h"

#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/GlassCard.h"
#include "ui/kit/Labels.h"
#include "ui/onboarding/FeatureRow.h"
#include "ui/onboarding/FloatMotion.h"
#include "ui/onboarding/SymbolBadge.h"

#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

namespace quiro {

namespace {
constexpr int markSide = 96;
constexpr double floatAmplitude = 5.0;
constexpr int floatPeriodMs = 2800;
} // namespace

ReadyPage::ReadyPage(QWidget* parent)
    : QWidget(parent)
    , m_start(new AccentButton(QStringLiteral("Start coaching"), QStringLiteral("arrow.right"), this))
{
    // The mark floats inside a fixed box so that the layout below it stays still.
    auto* markBox = new QWidget(this);
    markBox->setFixedSize(markSide, markSide + int(floatAmplitude) + 2);
    auto* mark =
        new SymbolBadge(QStringLiteral("checkmark"), {DS::ink, DS::accent, markSide, 48.0, markSide / 2.0}, markBox);
    auto* motion = new FloatMotion(markBox, floatAmplitude, floatPeriodMs);
    mark->move(0, int(floatAmplitude));
    connect(motion, &FloatMotion::offsetChanged, mark,
            [mark](double offset) { mark->move(0, int(std::lround(floatAmplitude + offset))); });

    auto* card = new GlassCard(this, 20);
    card->contentLayout()->setSpacing(2);
    card->contentLayout()->addWidget(new FeatureRow(
        QStringLiteral("capsule.portrait"), QStringLiteral("A small pill floats beside your calls"), DS::blue, card));
    card->contentLayout()->addWidget(new FeatureRow(
        QStringLiteral("sparkle"), QStringLiteral("Suggestions appear only when they matter"), DS::green, card));
    card->contentLayout()->addWidget(new FeatureRow(QStringLiteral("lightbulb.fill"),
                                                    QStringLiteral("Ctrl+Shift+Space asks for a quiro anytime"),
                                                    DS::settingsViolet, card));

    QLabel* title = makeLabel(QStringLiteral("You're all set"), Fonts::display(32), DS::ink, this);
    title->setAlignment(Qt::AlignHCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(72, 32, 72, 48);
    layout->setSpacing(0);
    layout->addStretch(3);
    layout->addWidget(markBox, 0, Qt::AlignHCenter);
    layout->addSpacing(24);
    layout->addWidget(title);
    layout->addSpacing(28);
    layout->addWidget(card);
    layout->addSpacing(32);
    layout->addWidget(m_start, 0, Qt::AlignHCenter);
    layout->addStretch(4);

    connect(m_start, &QAbstractButton::clicked, this, &ReadyPage::completed);
}

} // namespace quiro
