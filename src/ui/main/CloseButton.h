#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// A round "xmark" that closes the screen it sits on.
class CloseButton : public HoverButton {
public:
    explicit CloseButton(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {28, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quiro
