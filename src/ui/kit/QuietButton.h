#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// A text button for secondary actions ("Skip for now"): no fill until the pointer rests on it.
class QuietButton : public HoverButton {
public:
    explicit QuietButton(const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Label label() const;
};

} // namespace quiro
