#pragma once

#include "overlay/Anchor.h"
#include "overlay/WidgetMode.h"

#include <QObject>
#include <QRect>

#include <memory>
#include <optional>

class QPropertyAnimation;

namespace quiro {

class FloatingWindow;
class OverlayView;
class SessionWindowModel;

// Owns the floating overlay window: creates it on the first show with the view for the model's
// mode (panel or island), places it at the top of the primary screen, follows the view's size with
// a short animation while keeping its horizontal centre and its anchor (the panel's top edge, the
// island's centre line) still, and rebuilds the view when the mode changes. The application shell
// owns one and installs the model's callbacks.
class SessionWindowController final : public QObject {
    Q_OBJECT
public:
    static constexpr int frameAnimationMs = 320;
    static constexpr int panelTopGap = 66;  // from the top of the screen's available area
    static constexpr int islandTopGap = 30; // to the top of the idle island bar
    static constexpr QSize panelInitialSize{460, 64};
    static constexpr QSize islandInitialSize{130, 26};

    explicit SessionWindowController(SessionWindowModel& model, QObject* parent = nullptr);
    ~SessionWindowController() override;

    SessionWindowModel& model() const { return m_model; }

    // Brings the window up without taking focus from the call, creating it the first time.
    void show();
    // Takes the window off screen; the next show() brings the same window back.
    void hide();
    // Stops listening for moves and mode changes, closes the window and drops it.
    void teardown();
    // Animates the window to `size` around its horizontal centre and its anchor, moved no more than
    // needed to stay on screen; the views call this with their size. Sizes of one point or less are
    // ignored (a view before its first layout).
    void resize(const QSizeF& size);

    // The window and the state of its placement, or null / none before the first show().
    FloatingWindow* window() const { return m_window.get(); }
    OverlayView* view() const;
    double midX() const { return m_midX; }
    Anchor anchor() const { return m_anchor; }

private:
    void installView(WidgetMode mode);
    void rebuildForCurrentMode();
    void windowMoved();
    void place(const QRect& frame);
    bool ownsCurrentFrame() const;

    SessionWindowModel& m_model;
    std::unique_ptr<FloatingWindow> m_window;
    std::unique_ptr<QObject> m_observers; // context of the move and mode observers
    QPropertyAnimation* m_frameAnimation = nullptr;
    QRect m_placedFrame; // the last frame this controller gave the window
    double m_midX = 0.0;
    Anchor m_anchor;
    std::optional<WidgetMode> m_currentMode;
};

} // namespace quiro
