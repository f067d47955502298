#pragma once

#include "overlay/GlassButton.h"

namespace quiro {

// The island's icon control: a 28-point target with a 12-point symbol.
class HoverIcon : public GlassButton {
    Q_OBJECT
public:
    HoverIcon(const QString& icon, const QColor& tint, const QString& tip, QWidget* parent = nullptr,
              QFont::Weight weight = QFont::Medium, double iconSize = 12.0)
        : GlassButton(icon, tint, tip, Style{iconSize, weight, 28, Qt::transparent}, parent)
    {
    }
};

} // namespace quiro
