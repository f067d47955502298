#pragma once

#include "ui/kit/Color.h"

// The dark palette of the floating overlay (panel and island).
namespace quiro::Glass {

inline constexpr QColor text = white(0.92);
inline constexpr QColor textSoft = white(0.6);
inline constexpr QColor textFaint = white(0.35);
inline constexpr QColor accent = hexColor("#CCFF00");
inline constexpr QColor live = hexColor("#00D68F");
inline constexpr QColor warn = hexColor("#FF6B6B");

// Behind both views: the island is opaque, the panel lets a little of the desktop through.
inline constexpr QColor islandBackground = hexColor("#0A0A0A");
inline constexpr QColor panelBackground = hexColor("#0A0A0A", 0.95);

} // namespace quiro::Glass
