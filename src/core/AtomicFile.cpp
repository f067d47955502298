#include "core/AtomicFile.h"

#include <QFile>
#include <QSaveFile>

namespace quiro::AtomicFile {

namespace {
constexpr auto privateMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
}

bool write(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // QSaveFile creates the temporary file with the target's mode, or 0666 & ~umask for a
    // new target; the mode must be private before any byte is written.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(privateMode))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool writeInPlace(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.setPermissions(privateMode))
        return false;
    return file.write(bytes) == bytes.size() && file.flush();
}

} // namespace quiro::AtomicFile
