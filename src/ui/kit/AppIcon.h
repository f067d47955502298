#pragma once

#include <QIcon>

namespace quiro {

// The application's icon for the tray and the windows, drawn from the SVG mark built into the
// program, sharp at every size the desktop asks for.
QIcon appIcon();

} // namespace quiro
