#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace quiro {

// A QLabel in one of the design's fonts and colours (the colour may be translucent).
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent);

// Changes the colour of a label made by makeLabel.
void setLabelColor(QLabel* label, const QColor& color);

} // namespace quiro
