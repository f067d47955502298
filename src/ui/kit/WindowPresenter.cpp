#include "ui/kit/WindowPresenter.h"

#include <QScreen>
#include <QWidget>

namespace quiro {

namespace {
constexpr auto placedProperty = "quiroPlaced";
} // namespace

void presentWindow(QWidget& window)
{
    if (!window.property(placedProperty).toBool()) {
        if (const QScreen* screen = window.screen()) {
            QRect frame(QPoint(), window.size());
            frame.moveCenter(screen->availableGeometry().center());
            window.move(frame.topLeft());
        }
        window.setProperty(placedProperty, true);
    }
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    window.raise();
    window.activateWindow();
}

} // namespace quiro
