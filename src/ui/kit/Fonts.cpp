#include "ui/kit/Fonts.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

namespace quiro::Fonts {

namespace {
// QFont takes whole pixels or points; the design has sizes such as 11.5 and 16.5, so they are
// turned into points at the screen's logical resolution, which keeps the half pixel.
double pointsPerPixel()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return 72.0 / dpi;
}
} // namespace

QFont sized(const QString& family, double size, QFont::Weight weight)
{
    QFont font(family);
    font.setPointSizeF(size * pointsPerPixel());
    font.setWeight(weight);
    return font;
}

QFont display(double size, QFont::Weight weight)
{
    return text(size, weight);
}

QFont text(double size, QFont::Weight weight)
{
    return sized(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family(), size, weight);
}

} // namespace quiro::Fonts
