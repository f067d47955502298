#include "ui/kit/HoverFade.h"

#include "ui/kit/Spring.h"

#include <QEvent>
#include <QWidget>

namespace quiro {

HoverFade::HoverFade(QWidget* target)
    : QObject(target)
    , m_target(target)
{
    useSpring<Springs::springFast>(m_animation);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_level = value.toDouble();
        m_target->update();
    });
    target->setAttribute(Qt::WA_Hover);
    target->installEventFilter(this);
}

bool HoverFade::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_target) {
        if (event->type() == QEvent::Enter)
            setHovered(true);
        else if (event->type() == QEvent::Leave || event->type() == QEvent::Hide)
            setHovered(false);
    }
    return QObject::eventFilter(watched, event);
}

void HoverFade::setHovered(bool hovered)
{
    if (hovered == m_hovered)
        return;
    m_hovered = hovered;
    m_animation.stop();
    m_animation.setStartValue(m_level);
    m_animation.setEndValue(hovered ? 1.0 : 0.0);
    m_animation.start();
    emit hoveredChanged(hovered);
}

} // namespace quiro
