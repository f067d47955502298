#pragma once

#include <QString>
#include <optional>

namespace quiro {

// How the overlay presents itself: a full bar, or a thin pill at the top of the screen.
enum class WidgetMode { panel, island };

QString rawValue(WidgetMode mode);
QString label(WidgetMode mode); // as the settings picker shows it
std::optional<WidgetMode> widgetModeFromRawValue(const QString& raw);

} // namespace quiro
