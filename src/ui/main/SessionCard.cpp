#include "ui/main/SessionCard.h"

#include "core/NotificationCenter.h"
#include "session/SessionController.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/ValleyButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>

#include <algorithm>

namespace quiro {

namespace {
constexpr int tickMs = 1000;
} // namespace

SessionCard::SessionCard(SessionController& controller, const Clock& clock, QWidget* parent)
    : ValleyCard(parent)
    , m_controller(controller)
    , m_clock(clock)
    , m_elapsed(makeLabel({}, Fonts::display(24), DS::ink, this))
    , m_button(new ValleyButton(QStringLiteral("Begin"), QStringLiteral("play.fill"), this))
{
    auto* row = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(makeLabel(QStringLiteral("Sales Coach"), Fonts::display(20), DS::ink, this));
    titles->addWidget(
        makeLabel(QStringLiteral("Start a call and get coached in real-time."), Fonts::text(13), DS::inkSoft, this));
    row->addLayout(titles, 1);
    // Wide enough for any minute, so the button does not shift as the digits change.
    m_elapsed->setMinimumWidth(m_elapsed->fontMetrics().horizontalAdvance(QStringLiteral("000:00")));
    m_elapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(m_elapsed);
    row->addSpacing(12);
    row->addWidget(m_button);
    contentLayout()->addLayout(row);

    m_tick.setInterval(tickMs);
    connect(&m_tick, &QTimer::timeout, this, &SessionCard::showElapsed);
    connect(m_button, &QAbstractButton::clicked, this, [this] { toggle(); });
    connect(&m_controller, &SessionController::stateChanged, this, &SessionCard::showState);
    showState();
}

void SessionCard::startClock()
{
    showElapsed();
    m_tick.start();
}

void SessionCard::stopClock()
{
    m_tick.stop();
}

QString SessionCard::elapsedText() const
{
    const std::optional<double> started = m_controller.sessionStartedAt();
    if (!m_controller.running() || !started)
        return {};
    const qint64 seconds = qint64(std::max(0.0, m_clock.now() - *started));
    return QStringLiteral("%1:%2")
        .arg(seconds / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void SessionCard::showElapsed()
{
    m_elapsed->setText(elapsedText());
    m_elapsed->setVisible(m_controller.running());
}

void SessionCard::showState()
{
    using State = SessionController::State;
    switch (m_controller.state()) {
    case State::idle:
        m_button->setText(QStringLiteral("Begin"));
        m_button->setSymbol(QStringLiteral("play.fill"));
        break;
    case State::starting:
        // A start that waits for a device can be called off.
        m_button->setText(QStringLiteral("Cancel"));
        m_button->setSymbol(QStringLiteral("stop.fill"));
        break;
    case State::running:
        m_button->setText(QStringLiteral("End session"));
        m_button->setSymbol(QStringLiteral("stop.fill"));
        break;
    case State::stopping:
        m_button->setText(QStringLiteral("Saving\u2026"));
        m_button->setSymbol({});
        break;
    }
    m_button->setEnabled(m_controller.state() != State::stopping);
    showElapsed();
}

QCoro::Task<> SessionCard::toggle()
{
    QPointer<SessionCard> self(this);
    const bool starting = m_controller.state() == SessionController::State::idle;
    co_await m_controller.toggle();
    if (!self)
        co_return;
    // A start that came to nothing (no microphone, no sign-in) leaves its reason on Home.
    if (starting && m_controller.state() == SessionController::State::idle)
        co_return;
    NotificationCenter::instance().post(Notifications::hideMain);
}

} // namespace quiro
