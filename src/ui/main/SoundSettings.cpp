#include "ui/main/SoundSettings.h"

#include <QProcess>
#include <QStandardPaths>

#include <array>

namespace quiro::SoundSettings {

namespace {
struct Candidate {
    const char* desktop; // the XDG_CURRENT_DESKTOP entry it belongs to; empty for any desktop
    Tool tool;
};
} // namespace

std::optional<Tool> find()
{
    const std::array<Candidate, 3> candidates{{
        {"GNOME", {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}}},
        {"KDE", {QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}}},
        {"", {QStringLiteral("pavucontrol"), {}}},
    }};
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    const auto installed = [](const Candidate& candidate) {
        return !QStandardPaths::findExecutable(candidate.tool.program).isEmpty();
    };
    for (const Candidate& candidate : candidates) {
        if (desktops.contains(QLatin1String(candidate.desktop), Qt::CaseInsensitive) && installed(candidate))
            return candidate.tool;
    }
    // pavucontrol, the last entry, works on every desktop; then the others.
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        if (installed(*it))
            return it->tool;
    }
    return std::nullopt;
}

bool open(const Tool& tool)
{
    return QProcess::startDetached(tool.program, tool.arguments);
}

} // namespace quiro::SoundSettings
