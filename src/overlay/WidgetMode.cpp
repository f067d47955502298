#include "overlay/WidgetMode.h"

namespace quiro {

QString rawValue(WidgetMode mode)
{
    return mode == WidgetMode::island ? QStringLiteral("island") : QStringLiteral("panel");
}

QString label(WidgetMode mode)
{
    return mode == WidgetMode::island ? QStringLiteral("Dynamic Island") : QStringLiteral("Panel");
}

std::optional<WidgetMode> widgetModeFromRawValue(const QString& raw)
{
    if (raw == QLatin1String("panel"))
        return WidgetMode::panel;
    if (raw == QLatin1String("island"))
        return WidgetMode::island;
    return std::nullopt;
}

} // namespace quiro
