#pragma once

#include "ui/kit/AnimationDelay.h"

#include <QObject>
#include <QVariantAnimation>

#include <functional>

class QWidget;

namespace quiro {

// A screen's entrance: a moment after it is shown (0.08 s) it fades in on the kit's spring.
class Entrance : public QObject {
public:
    static constexpr int delayMs = 80;

    explicit Entrance(QWidget* target);

    // Starts over from invisible; `appeared` runs as the fade begins.
    void play(std::function<void()> appeared = {});

private:
    void finish();

    QWidget* m_target;
    AnimationDelay m_delay;
    QVariantAnimation m_fade;
};

} // namespace quiro
