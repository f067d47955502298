#include "core/Paths.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#ifndef QUIRO_SOURCE_RESOURCES
#error "QUIRO_SOURCE_RESOURCES must name the source tree's resources folder"
#endif

namespace quiro::Paths {

QString home()
{
    return QDir::homePath();
}

bool ensurePrivateDir(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    if (QFileInfo(clean).isDir())
        return true;
    // Create parent by parent so that every folder we make gets 0700, not just the last one.
    const int slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash > 0 && !ensurePrivateDir(clean.left(slash)))
        return false;
    const auto privateMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    return QDir().mkdir(clean, privateMode) || QFileInfo(clean).isDir();
}

namespace {
// Narrows one path to `mode` when it grants more; says so in one line.
void narrow(const QString& path, mode_t mode)
{
    struct stat info {};
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &info) != 0 || S_ISLNK(info.st_mode))
        return;
    const mode_t current = info.st_mode & 07777;
    if ((current & ~mode) == 0)
        return;
    if (::chmod(native.constData(), mode) == 0)
        Log::line(QStringLiteral("Files"),
                  QStringLiteral("%1 was readable by others (mode %2); narrowed to %3")
                      .arg(path, QString::number(current, 8).rightJustified(4, QLatin1Char('0')),
                           QString::number(mode, 8).rightJustified(4, QLatin1Char('0'))));
    else
        Log::line(QStringLiteral("Files"),
                  QStringLiteral("%1 is readable by others (mode %2) and could not be narrowed: %3")
                      .arg(path, QString::number(current, 8), QString::fromLocal8Bit(std::strerror(errno))));
}
} // namespace

void narrowPrivateModes()
{
    const QString dir = home() + QStringLiteral("/.quiroai");
    narrow(dir, 0700);
    narrow(dir + QStringLiteral("/token"), 0600);
}

QString appDir()
{
    const QString dir = home() + QStringLiteral("/.quiroai");
    ensurePrivateDir(dir);
    return dir;
}

QString userEnvFile()
{
    return appDir() + QStringLiteral("/.env");
}
QString profileFile()
{
    return appDir() + QStringLiteral("/profile.json");
}
QString sessionsRoot()
{
    return appDir() + QStringLiteral("/sessions");
}
QString serviceDir()
{
    return appDir() + QStringLiteral("/service");
}
QString serviceCertFile()
{
    return serviceDir() + QStringLiteral("/cert.pem");
}
QString tokenFile()
{
    return appDir() + QStringLiteral("/token");
}

QString logFile()
{
    return appDir() + QStringLiteral("/logs/quiro.log");
}

QString resourceDir()
{
    if (QCoreApplication::instance()) {
        const QString installed = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/quiro");
        if (QFileInfo(installed).isDir())
            return QDir::cleanPath(installed);
    }
    return QStringLiteral(QUIRO_SOURCE_RESOURCES);
}

} // namespace quiro::Paths
