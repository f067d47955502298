#include "ui/onboarding/WelcomePage.h"

#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/onboarding/QuiroIllustration.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

WelcomePage::WelcomePage(QWidget* parent)
    : QWidget(parent)
    , m_start(new AccentButton(QStringLiteral("Get started"), QStringLiteral("arrow.right"), this))
{
    auto* headline = new QHBoxLayout;
    headline->setSpacing(12);
    headline->addStretch(1);
    headline->addWidget(makeLabel(QStringLiteral("Meet"), Fonts::display(44, QFont::Bold), DS::ink, this));
    QLabel* name = makeLabel(QStringLiteral("Quiro"), Fonts::display(44, QFont::Bold), DS::ink, this);
    // The name sits on an accent highlight, like a marker stroke.
    name->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 10px; padding: 0 10px;").arg(DS::accent.name(QColor::HexRgb)));
    headline->addWidget(name);
    headline->addStretch(1);

    QLabel* tagline = makeLabel(
        QStringLiteral("Your AI sales coach, whisper-quiet.\nIt listens with you. It quiros when it matters."),
        Fonts::text(15), DS::inkSoft, this);
    tagline->setAlignment(Qt::AlignHCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(48, 32, 48, 48);
    layout->setSpacing(0);
    layout->addStretch(3);
    layout->addWidget(new QuiroIllustration(this), 0, Qt::AlignHCenter);
    layout->addSpacing(40);
    layout->addLayout(headline);
    layout->addSpacing(16);
    layout->addWidget(tagline);
    layout->addSpacing(36);
    layout->addWidget(m_start, 0, Qt::AlignHCenter);
    layout->addStretch(3);
}

} // namespace quiro
