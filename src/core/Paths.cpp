#include "core/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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
