#pragma once

#include "ui/kit/AnimationDelay.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace quiro {

class FloatingWindow;
class HoverButton;

// The overlay's tooltips. Its controls cannot use Qt's own tooltips: those need the window to be
// active, and the overlay never is. A tip appears only once the pointer has rested on a control
// for 450 ms, 22 points below the pointer, and a new tip replaces any pending or shown one.
class TooltipWindow final : public QObject {
    Q_OBJECT
public:
    static constexpr int showDelayMs = 450;

    // The one tooltip of the program, created on first use and owned by the application.
    static TooltipWindow& shared();

    void scheduleShow(const QString& text);
    void hide();

    // Gives `control` a tip: scheduled when the pointer enters, gone when it leaves or presses.
    // `tip` is asked each time, so a control's tip can follow its state; an empty tip shows nothing.
    static void attach(HoverButton* control, std::function<QString()> tip);

    // The tip on screen, or null.
    FloatingWindow* window() const { return m_window.get(); }
    QString text() const { return m_text; }

private:
    explicit TooltipWindow(QObject* parent);
    ~TooltipWindow() override;
    void show(const QString& text);

    AnimationDelay m_showDelay;
    std::unique_ptr<FloatingWindow> m_window;
    QString m_text;
};

} // namespace quiro
