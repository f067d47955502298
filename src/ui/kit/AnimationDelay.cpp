#include "ui/kit/AnimationDelay.h"

namespace quiro {

AnimationDelay::AnimationDelay(QObject* parent)
    : QAbstractAnimation(parent)
{
    connect(this, &QAbstractAnimation::finished, this, [this] {
        if (auto action = std::exchange(m_action, nullptr))
            action();
    });
}

void AnimationDelay::start(int delayMs, std::function<void()> action)
{
    stop();
    m_delayMs = delayMs;
    m_action = std::move(action);
    QAbstractAnimation::start();
}

void AnimationDelay::cancel()
{
    stop();
    m_action = nullptr;
}

} // namespace quiro
