#pragma once

class QWidget;

namespace quiro {

// Shows a top-level window in front, with the keyboard, centred on its screen the first time it
// appears (later it stays where the user put it). Window managers differ in where they place a
// new window, and some (or none, on a bare X server) place it at the corner.
void presentWindow(QWidget& window);

} // namespace quiro
