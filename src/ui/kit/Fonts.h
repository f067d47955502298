#pragma once

#include <QFont>

// The two type faces of the design. Sizes are in points of the design, which are Qt's
// device-independent pixels: the same number of pixels on every screen before Qt's own scaling.
namespace quiro::Fonts {

// Headlines and numbers. The design asks for a rounded face; Debian's default desktop fonts have
// none, so this is the desktop's own face at a heavier weight.
QFont display(double size, QFont::Weight weight = QFont::DemiBold);

// Body text.
QFont text(double size, QFont::Weight weight = QFont::Normal);

// A font of `family` whose em is `size` device-independent pixels.
QFont sized(const QString& family, double size, QFont::Weight weight);

} // namespace quiro::Fonts
