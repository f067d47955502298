#include "ui/kit/Color.h"

#include <algorithm>

namespace quiro {

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(float(std::clamp(opacity, 0.0, 1.0)));
    return color;
}

QColor mix(const QColor& from, const QColor& to, double amount)
{
    // Springs overshoot their target a little; a colour cannot go past its end.
    const float t = float(std::clamp(amount, 0.0, 1.0));
    const auto blend = [t](float a, float b) { return a + (b - a) * t; };
    QColor result;
    result.setRgbF(blend(from.redF(), to.redF()), blend(from.greenF(), to.greenF()), blend(from.blueF(), to.blueF()),
                   blend(from.alphaF(), to.alphaF()));
    return result;
}

} // namespace quiro
