#include "overlay/SessionStateBadge.h"

#include "overlay/BreathingDot.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Glass.h"
#include "ui/kit/Labels.h"

#include <QHBoxLayout>
#include <QLabel>

namespace quiro {

SessionStateBadge::SessionStateBadge(QWidget* parent)
    : QWidget(parent)
    , m_dot(new BreathingDot(Glass::textFaint, 8, this))
    , m_word(makeLabel({}, Fonts::display(12), Glass::text, this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(7);
    layout->addWidget(m_dot, 0, Qt::AlignVCenter);
    layout->addWidget(m_word, 0, Qt::AlignVCenter);
    setState(false, false);
}

void SessionStateBadge::setState(bool running, bool callEnded)
{
    m_dot->setColor(running ? Glass::live : Glass::textFaint);
    m_dot->setBreathing(running);
    if (running)
        m_word->setText(QStringLiteral("Listening"));
    else
        m_word->setText(callEnded ? QStringLiteral("Ended") : QStringLiteral("Ready"));
}

} // namespace quiro
