#include "core/Autostart.h"

#include "core/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace quiro::Autostart {

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/io.quiro.Quiro.desktop");
}

bool isEnabled()
{
    return QFileInfo::exists(entryPath());
}

WriteResult setEnabled(bool enabled, const QString& program)
{
    const QString path = entryPath();
    if (!enabled) {
        if (QFile::exists(path) && !QFile::remove(path))
            return WriteResult::failure(QStringLiteral("cannot remove %1").arg(path));
        return WriteResult::success();
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo(folder).isDir() && !Paths::ensurePrivateDir(folder))
        return WriteResult::failure(QStringLiteral("cannot create the folder %1").arg(folder));
    // The path is quoted for the desktop entry's Exec rules: spaces and quotes must survive.
    QString quoted = program;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Quiro\n"
                                         "Comment=Coaches you through live sales calls\n"
                                         "Exec=\"%1\"\n"
                                         "Icon=quiro\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoted);
    return AtomicFile::write(path, entry.toUtf8());
}

} // namespace quiro::Autostart
