#pragma once

#include "ui/kit/Color.h"

// The light palette shared by the main window, the login window and onboarding.
namespace quiro::DS {

inline constexpr QColor canvas = hexColor("#FFFFFF");
inline constexpr QColor canvas2 = hexColor("#FAFAFA");
inline constexpr QColor surface = hexColor("#FFFFFF");
inline constexpr QColor hairline = hexColor("#E8E8E8");
inline constexpr QColor ink = hexColor("#0A0A0A");
inline constexpr QColor inkSoft = hexColor("#4A4A4A");
inline constexpr QColor inkFaint = hexColor("#8A8A8A");
inline constexpr QColor accent = hexColor("#CCFF00");
inline constexpr QColor accentH = hexColor("#B8E600"); // accent under the pointer
inline constexpr QColor accentSoft = hexColor("#E8FFCC");
inline constexpr QColor green = hexColor("#00D68F");
inline constexpr QColor greenSoft = hexColor("#D0F9E8");
inline constexpr QColor blue = hexColor("#3B82F6");
inline constexpr QColor blueSoft = hexColor("#DBEAFE");
inline constexpr QColor red = hexColor("#EF4444");
inline constexpr QColor redSoft = hexColor("#FEE2E2");

// Second names that screens use for the same colours.
inline constexpr const QColor& cream = ink;
inline constexpr const QColor& muted = inkSoft;
inline constexpr const QColor& muted2 = inkFaint;
inline constexpr const QColor& dark = canvas;
inline constexpr const QColor& dark2 = canvas2;
inline constexpr const QColor& dark3 = hairline;
inline constexpr const QColor& clay = red;
inline constexpr const QColor& moss = green;
inline constexpr const QColor& mossSoft = greenSoft;
inline constexpr const QColor& sky = blue;
inline constexpr const QColor& skySoft = blueSoft;

// Colours that single screens use.
inline constexpr QColor saveButton = hexColor("#1A1A1A");
inline constexpr QColor settingsViolet = hexColor("#7E6BA8");
inline constexpr QColor shadow = hexColor("#000000");

} // namespace quiro::DS
