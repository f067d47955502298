#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// One tab's title in the tab bar. The selected pill's ground is the bar's sliding highlight; the
// pill itself paints only its title, and a faint ground under the pointer.
class TabPill : public HoverButton {
public:
    explicit TabPill(const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Label label() const;
};

} // namespace quiro
