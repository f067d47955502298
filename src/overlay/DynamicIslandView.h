#pragma once

#include "overlay/OverlayView.h"
#include "ui/kit/AnimationDelay.h"

class QLabel;

namespace quiro {

class HoverIcon;
class SessionStateBadge;
class SessionToggleButton;

// The island: a thin pill at the top of the screen that says whether Quiro listens, opens its
// controls while the pointer is on it, and lets a hint bloom out of it.
class DynamicIslandView : public OverlayView {
public:
    static constexpr int idleWidth = 130;
    static constexpr int hoverWidth = 280;
    static constexpr int hintWidth = 380;
    static constexpr int barHeight = 26;
    static constexpr int hoverRowHeight = 32;
    static constexpr int hintHeight = 80;
    static constexpr int outerPad = 6;
    static constexpr int innerGap = 6;
    static constexpr int collapseDelayMs = 220;

    explicit DynamicIslandView(SessionWindowModel& model, QWidget* parent = nullptr);

    // The island's size for what it shows.
    static QSize sizeFor(bool hasHint, bool hovered);

    QSize currentSize() const override;
    QPainterPath shape(const QRectF& bounds) const override;
    bool hovered() const { return m_hovered; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QWidget* buildIdleBar();
    QWidget* buildHoverRow();
    QWidget* buildBloom();
    void setHovered(bool hovered);
    void refresh();

    bool m_hovered = false;
    AnimationDelay m_collapse;
    QWidget* m_idleBar = nullptr;
    QWidget* m_hoverRow = nullptr;
    QWidget* m_bloom = nullptr;
    SessionStateBadge* m_idleBadge = nullptr;
    SessionStateBadge* m_rowBadge = nullptr;
    SessionToggleButton* m_toggle = nullptr;
    HoverIcon* m_assist = nullptr;
    QLabel* m_hintLabel = nullptr;
    QLabel* m_hintText = nullptr;
};

} // namespace quiro
