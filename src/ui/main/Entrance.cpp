#include "ui/main/Entrance.h"

#include "ui/kit/Spring.h"

#include <QGraphicsOpacityEffect>
#include <QWidget>

namespace quiro {

Entrance::Entrance(QWidget* target)
    : QObject(target)
    , m_target(target)
    , m_delay(this)
{
    useSpring<Springs::spring>(m_fade);
    m_fade.setStartValue(0.0);
    m_fade.setEndValue(1.0);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(m_target->graphicsEffect()))
            effect->setOpacity(std::clamp(value.toDouble(), 0.0, 1.0));
    });
    connect(&m_fade, &QVariantAnimation::finished, this, &Entrance::finish);
}

void Entrance::play(std::function<void()> appeared)
{
    m_fade.stop();
    auto* effect = new QGraphicsOpacityEffect(m_target);
    effect->setOpacity(0.0);
    m_target->setGraphicsEffect(effect);
    m_delay.start(delayMs, [this, appeared = std::move(appeared)] {
        m_fade.start();
        if (appeared)
            appeared();
    });
}

void Entrance::finish()
{
    // The effect renders the whole screen off screen on every repaint: only worth it while fading.
    m_target->setGraphicsEffect(nullptr);
}

} // namespace quiro
