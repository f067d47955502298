#pragma once

#include "ui/kit/ValleyCard.h"

#include <QTimer>

#include <qcoro/qcorotask.h>

class QLabel;

namespace quiro {

class SessionController;
class ValleyButton;
class Clock;

// Home's call control: "Sales Coach", the button that begins or ends a coached call and, while a
// call runs, its elapsed time. After a start or a stop the main window steps aside for the
// overlay ("quiro.hide_main"), except when a start came to nothing: then the window stays, with
// the reason on Home.
class SessionCard : public ValleyCard {
public:
    SessionCard(SessionController& controller, const Clock& clock, QWidget* parent = nullptr);

    // The clock ticks once a second while Home is shown, and not at all otherwise.
    void startClock();
    void stopClock();
    bool clockRunning() const { return m_tick.isActive(); }

    QString elapsedText() const;
    ValleyButton* button() const { return m_button; }

private:
    void showState();
    void showElapsed();
    QCoro::Task<> toggle();

    SessionController& m_controller;
    const Clock& m_clock;
    QLabel* m_elapsed;
    ValleyButton* m_button;
    QTimer m_tick;
};

} // namespace quiro
