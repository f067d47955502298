#pragma once

#include <QObject>
#include <QVariantAnimation>

class QWidget;

namespace quiro {

// A control's hover flag as a level that springs (springFast) from 0 at rest to 1 under the
// pointer, so colours and shadows fade instead of jumping. Watches the target's enter and leave
// events and repaints it while the level moves.
class HoverFade final : public QObject {
    Q_OBJECT
public:
    explicit HoverFade(QWidget* target);

    bool hovered() const { return m_hovered; }
    double level() const { return m_level; }

signals:
    void hoveredChanged(bool hovered);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setHovered(bool hovered);

    QWidget* m_target;
    QVariantAnimation m_animation;
    bool m_hovered = false;
    double m_level = 0.0;
};

} // namespace quiro
