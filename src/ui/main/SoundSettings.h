#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The desktop's own place to choose and unmute sound devices: what the main window opens when a
// side of the call cannot be heard.
namespace quiro::SoundSettings {

struct Tool {
    QString program;
    QStringList arguments;
};

// The running desktop's sound settings when they are installed (GNOME's control centre, KDE's
// system settings), else pavucontrol, else whichever of them is installed; none without any.
std::optional<Tool> find();

// Starts the tool on its own; false when it could not be started.
bool open(const Tool& tool);

// What to do when there is no tool to open.
inline const QString installAdvice =
    QStringLiteral("To choose your devices, install pavucontrol (sudo apt install pavucontrol).");

} // namespace quiro::SoundSettings
