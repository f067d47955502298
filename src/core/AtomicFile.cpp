#include "core/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace quiro {

WriteResult WriteResult::fromErrno(int error)
{
    QString reason = QString::fromLocal8Bit(std::strerror(error));
    if (!reason.isEmpty())
        reason[0] = reason[0].toLower();
    return failure(reason);
}

namespace AtomicFile {

namespace {

// write() may take fewer bytes than asked for (a signal, a pipe, a nearly full disk); only a
// real error or a write that makes no progress ends the loop.
bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

WriteResult write(const QString& path, const QByteArray& bytes)
{
    QString target = path;
    if (const QFileInfo info(path); info.isSymLink())
        target = info.symLinkTarget();
    const QByteArray finalPath = QFile::encodeName(target);
    const QByteArray directory = QFile::encodeName(QFileInfo(target).absolutePath());

    // mkstemp creates the file 0600 whatever the umask: no byte is ever readable by others.
    QByteArray temporary = directory + "/." + QFile::encodeName(QFileInfo(target).fileName()) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return WriteResult::fromErrno(errno);

    // A write error can surface at write(), at fsync() (delayed allocation on a full disk) or at
    // close() (network filesystems); each one is checked, or a 0-byte file could replace a good one.
    bool ok = writeAll(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.constData(), finalPath.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        return WriteResult::fromErrno(error);
    }
    // The rename itself lives in the folder: flush it too, so a crash right after a save cannot
    // bring the old file back. The new file is already in place whatever this returns.
    if (const int dirFd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return WriteResult::success();
}

} // namespace AtomicFile

} // namespace quiro
