#include "history/CheckpointWriter.h"

#include <QFile>

namespace quiro {

namespace {
WriteResult write(const SessionCheckpoint& checkpoint, const QString& path)
{
    const auto bytes = checkpoint.encode();
    if (!bytes)
        return WriteResult::failure(QStringLiteral("the call's times cannot be stored"));
    return AtomicFile::write(path, *bytes);
}
} // namespace

CheckpointWriter::CheckpointWriter(QObject* parent)
    : QObject(parent)
{
    m_worker.setMaxThreadCount(1);
    m_worker.setObjectName(QStringLiteral("quiro.checkpoint"));
}

CheckpointWriter::~CheckpointWriter()
{
    settle();
    m_worker.waitForDone();
}

void CheckpointWriter::writeLater(SessionCheckpoint checkpoint, QString path)
{
    const QMutexLocker lock(&m_mutex);
    const bool scheduled = m_pending.has_value();
    m_pending = Job{std::move(checkpoint), std::move(path)};
    if (!scheduled)
        m_worker.start([this] { writePending(); });
}

void CheckpointWriter::writePending()
{
    std::optional<Job> job;
    {
        const QMutexLocker lock(&m_mutex);
        job = std::exchange(m_pending, std::nullopt);
        if (!job)
            return; // settled or taken by an earlier run
        m_writing = true;
    }
    const WriteResult result = write(job->checkpoint, job->path);
    {
        const QMutexLocker lock(&m_mutex);
        m_writing = false;
        m_idle.wakeAll();
    }
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            if (onWritten)
                onWritten(result);
        },
        Qt::QueuedConnection);
}

void CheckpointWriter::settle()
{
    QMutexLocker lock(&m_mutex);
    m_pending.reset();
    while (m_writing)
        m_idle.wait(&m_mutex);
}

WriteResult CheckpointWriter::writeNow(const SessionCheckpoint& checkpoint, const QString& path)
{
    settle();
    return write(checkpoint, path);
}

void CheckpointWriter::clearNow(const QString& path)
{
    settle();
    QFile::remove(path);
}

} // namespace quiro
