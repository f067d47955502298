#include "ui/kit/SoundSettings.h"

#include <QProcess>
#include <QStandardPaths>

#include <array>

namespace quiro::SoundSettings {

namespace {
struct Candidate {
    const char* desktop; // an XDG_CURRENT_DESKTOP entry on which this panel is the native one
    const char* program;
    const char* argument;
};

constexpr std::array<Candidate, 3> s_candidates{{
    {"", "pavucontrol", nullptr},
    {"GNOME", "gnome-control-center", "sound"},
    {"KDE", "systemsettings", "kcm_pulseaudio"},
}};

std::optional<Panel> installed(const Candidate& candidate)
{
    const QString path = QStandardPaths::findExecutable(QLatin1String(candidate.program));
    if (path.isEmpty())
        return std::nullopt;
    Panel panel{path, {}};
    if (candidate.argument)
        panel.arguments.append(QLatin1String(candidate.argument));
    return panel;
}
} // namespace

std::optional<Panel> find()
{
    // XDG_CURRENT_DESKTOP is a colon-separated list such as "ubuntu:GNOME".
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    for (const Candidate& candidate : s_candidates) {
        if (*candidate.desktop && desktops.contains(QLatin1String(candidate.desktop))) {
            if (auto panel = installed(candidate))
                return panel;
        }
    }
    for (const Candidate& candidate : s_candidates) {
        if (auto panel = installed(candidate))
            return panel;
    }
    return std::nullopt;
}

std::optional<QString> open()
{
    const std::optional<Panel> panel = find();
    if (!panel)
        return notInstalled;
    if (!QProcess::startDetached(panel->program, panel->arguments))
        return QStringLiteral("Could not start %1 — open your desktop's sound settings by hand.").arg(panel->program);
    return std::nullopt;
}

} // namespace quiro::SoundSettings
