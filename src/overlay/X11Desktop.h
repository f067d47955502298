#pragma once

class QWidget;

// What an always-visible helper window asks of an X11 desktop, through the EWMH properties that
// window managers read. Qt covers "stay on top" and "never take focus" with window flags but has no
// flag for "on every workspace", and cannot tell whether a compositor draws translucent windows.
// Elsewhere (Wayland without XWayland) these do nothing.
namespace quiro::X11Desktop {

// Before the window is mapped: on every workspace (_NET_WM_DESKTOP 0xFFFFFFFF and the sticky
// state), above other windows, and out of the task bar and the pager. Window managers drop these
// states when a window is withdrawn, so this is done before every show.
void keepOnEveryWorkspace(QWidget* window);

// Whether a compositing manager runs on the display (it owns the _NET_WM_CM_Sn selection); without
// one, translucent pixels of a window show as black.
bool compositorRunning();

} // namespace quiro::X11Desktop
