#pragma once

#include "core/AtomicFile.h"

#include <QString>

// "Start Quiro when I log in": an entry in the user's XDG autostart folder, which every desktop
// that follows the freedesktop.org rules (GNOME, KDE, Xfce, …) reads at login.
namespace quiro::Autostart {

// ~/.config/autostart/io.quiro.Quiro.desktop (XDG_CONFIG_HOME honoured).
QString entryPath();
bool isEnabled();
// Writes the entry for `program` (this program's path), or removes it.
WriteResult setEnabled(bool enabled, const QString& program);

} // namespace quiro::Autostart
