#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// Start or stop the session: a filled circle, "stop" on accent while a session runs, "play" on a
// faint white disc otherwise.
class SessionToggleButton : public HoverButton {
    Q_OBJECT
public:
    // Whether it explains itself ("Start session" / "End session") in a tooltip.
    enum class Tips { none, shown };
    SessionToggleButton(int diameter, double iconSize, Tips tips, QWidget* parent = nullptr);

    void setRunning(bool running);
    bool running() const { return m_running; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString tip() const;

    double m_iconSize;
    Tips m_tips;
    bool m_running = false;
};

} // namespace quiro
