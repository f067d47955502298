#pragma once

#include <QByteArray>
#include <QString>

namespace quiro {

// The outcome of a file write: nothing to say on success, otherwise what went wrong in words a
// user can act on ("no space left on device").
class WriteResult {
public:
    static WriteResult success() { return WriteResult(); }
    static WriteResult failure(QString reason) { return WriteResult(std::move(reason)); }
    // From errno, as strerror words it, starting in lower case.
    static WriteResult fromErrno(int error);

    explicit operator bool() const { return m_reason.isEmpty(); }
    const QString& reason() const { return m_reason; }

private:
    WriteResult() = default;
    explicit WriteResult(QString reason)
        : m_reason(reason.isEmpty() ? QStringLiteral("unknown error") : std::move(reason))
    {
    }
    QString m_reason;
};

namespace AtomicFile {

// Writes `bytes` to a new private (0600) file beside `path`, flushes it to the disk and renames it
// over `path`, so a reader sees either the old file or the whole new one. Every step is checked
// (write, fsync, close, rename); on any failure the temporary file is removed and the old file is
// left exactly as it was. A symbolic link at `path` is followed: its target is replaced.
[[nodiscard]] WriteResult write(const QString& path, const QByteArray& bytes);

} // namespace AtomicFile

} // namespace quiro
