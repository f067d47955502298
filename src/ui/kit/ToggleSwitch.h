#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// A setting that is on or off: its title on the left, a switch on the right (an ink track with the
// knob to the right when on). Checkable; `toggled` says when it changes.
class ToggleSwitch : public HoverButton {
public:
    explicit ToggleSwitch(const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quiro
