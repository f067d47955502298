#include "ui/kit/Color.h"

namespace quiro {

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(float(opacity));
    return color;
}

QColor mix(const QColor& from, const QColor& to, double amount)
{
    const auto blend = [amount](float a, float b) { return a + (b - a) * float(amount); };
    QColor result;
    result.setRgbF(blend(from.redF(), to.redF()), blend(from.greenF(), to.greenF()), blend(from.blueF(), to.blueF()),
                   blend(from.alphaF(), to.alphaF()));
    return result;
}

} // namespace quiro
