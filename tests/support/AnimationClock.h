#pragma once

#include <QAnimationDriver>
#include <QVariantAnimation>

namespace quiro::test {

// Qt's animation clock under a test's control: while one lives, animations (and the overlay's
// delays, which run on the same clock) move only when the test advances it, so a test can stop
// exactly 1 ms short of a deadline instead of sleeping past it.
class AnimationClock final : public QAnimationDriver {
public:
    AnimationClock();
    ~AnimationClock() override;

    qint64 elapsed() const override { return m_elapsedMs; }

    // Moves the clock on by `ms` in frames of at most 16 ms, like the screen's refresh, and lets
    // posted events (new animations registering, repaints) run before and after each frame.
    void advanceBy(int ms);

private:
    qint64 m_elapsedMs = 0;
    // Qt stops a driver when no animation runs and, on restarting it, counts the wall-clock time
    // spent stopped into the next frame. An endless animation keeps this driver running, so time
    // passes only in advanceBy().
    QVariantAnimation m_keeper;
};

} // namespace quiro::test
