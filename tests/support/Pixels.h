#pragma once

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QString>

// Screenshots of the test desktop, saved under the build tree for a person to look at, and the
// colour checks that tell a test the design's colours landed where they belong.
namespace quiro::test {

// What the screen shows in `area` (the root window on X11, so every window is in it).
inline QImage grabScreen(const QRect& area)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Saves `image` as `name`.png in the build tree's screenshot folder and returns the path.
inline QString saveScreenshot(const QImage& image, const QString& name)
{
    const QString folder = QStringLiteral(QUIRO_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    image.save(path);
    return path;
}

// Whether two colours agree channel by channel within `tolerance` (anti-aliasing, blending).
inline bool sameColor(const QColor& actual, const QColor& expected, int tolerance = 6)
{
    return qAbs(actual.red() - expected.red()) <= tolerance && qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance;
}

} // namespace quiro::test
