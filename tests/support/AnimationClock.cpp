#include "support/AnimationClock.h"

#include <QCoreApplication>

namespace quiro::test {

namespace {
constexpr int frameMs = 16;
}

AnimationClock::AnimationClock()
{
    install();
    m_keeper.setStartValue(0);
    m_keeper.setEndValue(1);
    m_keeper.setDuration(1000);
    m_keeper.setLoopCount(-1);
    m_keeper.start();
    QCoreApplication::processEvents();
}

AnimationClock::~AnimationClock()
{
    m_keeper.stop();
    uninstall();
}

void AnimationClock::advanceBy(int ms)
{
    QCoreApplication::processEvents();
    while (ms > 0) {
        const int step = qMin(ms, frameMs);
        m_elapsedMs += step;
        ms -= step;
        advance();
        QCoreApplication::processEvents();
    }
}

} // namespace quiro::test
