#include "ui/onboarding/FloatMotion.h"

#include <QEvent>
#include <QWidget>

namespace quiro {

FloatMotion::FloatMotion(QWidget* target, double amplitude, int periodMs)
    : QObject(target)
    , m_target(target)
{
    m_animation.setDuration(periodMs);
    m_animation.setLoopCount(-1);
    m_animation.setKeyValueAt(0.0, 0.0);
    m_animation.setKeyValueAt(0.5, -amplitude);
    m_animation.setKeyValueAt(1.0, 0.0);
    m_animation.setEasingCurve(QEasingCurve::InOutSine);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_offset = value.toDouble();
        emit offsetChanged(m_offset);
    });
    target->installEventFilter(this);
}

bool FloatMotion::eventFilter(QObject* watched, QEvent* event)
{
    // Only while visible: a hidden page must not keep the animation clock (and the CPU) busy.
    if (watched == m_target) {
        if (event->type() == QEvent::Show)
            m_animation.start();
        else if (event->type() == QEvent::Hide)
            m_animation.stop();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace quiro
