#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The desktop's own sound settings, where the user picks, unmutes or plugs in the devices a call
// needs. Linux desktops have no common way to open them, so each known panel is tried by name.
namespace quiro::SoundSettings {

struct Panel {
    QString program;
    QStringList arguments;
};

// Shown when no panel is installed: what to install instead of a button that does nothing.
inline const QString notInstalled =
    QStringLiteral("No sound settings program found — install pavucontrol (apt install pavucontrol).");

// The installed panel that suits this desktop: GNOME's or KDE's own on those desktops
// (XDG_CURRENT_DESKTOP), otherwise pavucontrol, otherwise whichever of them is installed.
std::optional<Panel> find();

// Starts the panel on its own (it outlives the caller). Nothing when it started, otherwise the
// sentence to show the user.
std::optional<QString> open();

} // namespace quiro::SoundSettings
