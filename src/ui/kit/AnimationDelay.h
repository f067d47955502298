#pragma once

#include <QAbstractAnimation>

#include <functional>

namespace quiro {

// A one-shot delay measured on Qt's animation clock instead of a QTimer. Delays that belong with
// motion (a tooltip's wait, the island's collapse, a confirmation that turns back after a while)
// run on it, and tests step them with an animation driver like every other animation instead of
// sleeping. It is a leaf animation on purpose: Qt runs a QPauseAnimation alone on a wall-clock
// timer that a driver cannot step.
class AnimationDelay final : public QAbstractAnimation {
public:
    explicit AnimationDelay(QObject* parent);

    // Runs `action` after `delayMs`, replacing any pending one.
    void start(int delayMs, std::function<void()> action);
    void cancel();

    int duration() const override { return m_delayMs; }

protected:
    void updateCurrentTime(int) override {}

private:
    int m_delayMs = 0;
    std::function<void()> m_action;
};

} // namespace quiro
