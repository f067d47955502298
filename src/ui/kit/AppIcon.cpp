#include "ui/kit/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace quiro {

QIcon appIcon()
{
    // Rendered once per size here rather than left to Qt's SVG icon engine, which is a plugin the
    // system may lack.
    QSvgRenderer renderer(QStringLiteral(":/quiro/icons/quiro.svg"));
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace quiro
