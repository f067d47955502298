#pragma once

#include <QPainterPath>
#include <QWidget>

#include <functional>

namespace quiro {

class SessionWindowModel;

// What the overlay window hosts: a view of the model that knows the size it wants and the shape it
// paints, and reports its size whenever what it shows changes, so the window can follow it.
class OverlayView : public QWidget {
public:
    std::function<void(QSize)> onSize;

    virtual QSize currentSize() const = 0;
    virtual QPainterPath shape(const QRectF& bounds) const = 0;
    // Tells onSize the size the view wants now.
    void reportSize();

    // The capture control's tip. No X11 or Wayland interface keeps a window out of screen captures,
    // so the control says so instead of offering a switch it could not honour.
    static QString captureTip()
    {
        return QStringLiteral("Visible to screen sharing — Linux can't hide windows from capture");
    }
    static QString settingsTip() { return QStringLiteral("Open Quiro"); }

protected:
    OverlayView(SessionWindowModel& model, QWidget* parent);

    SessionWindowModel& model() const { return m_model; }
    // Runs one of the model's callbacks, if the shell has installed it.
    static void run(const std::function<void()>& callback);

private:
    SessionWindowModel& m_model;
};

} // namespace quiro
