#pragma once

#include <QFont>
#include <QStringList>
#include <QStringView>

class QColor;
class QPainter;
class QRectF;

// The design names its icons after macOS symbols ("play.fill", "gearshape"). Here every one of
// them is a glyph of the Material Icons font (Debian's fonts-material-design-icons-iconfont),
// drawn as text: the font turns a ligature such as "play_arrow" into its icon, in the pen's colour,
// so one glyph serves every tint and size and stays sharp on any screen.
namespace quiro::Icons {

// The ligature for a symbol name of the design; empty for a name the table does not know.
QString ligature(QStringView symbol);

// Every symbol name the table knows.
QStringList symbols();

// The icon font's family, loaded on first use; empty when the font is not installed.
QString family();

// The icon font on an em of `size` pixels.
QFont font(double size, QFont::Weight weight = QFont::Medium);

// Draws `symbol` centred in `box`, about as large as text of `size` points. Draws nothing for an unknown symbol or a
// missing font (a word in place of an icon would be worse than a gap).
void paint(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color, double size,
           QFont::Weight weight = QFont::Medium);

} // namespace quiro::Icons
