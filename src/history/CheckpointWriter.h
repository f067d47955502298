#pragma once

#include "core/AtomicFile.h"
#include "history/SessionCheckpoint.h"

#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <QWaitCondition>

#include <functional>
#include <optional>

namespace quiro {

// Writes a running call's recovery file off the GUI thread: encoding and writing a long call takes
// tens of milliseconds, which the GUI thread must not spend every 30 s. One write at a time; a
// newer checkpoint replaces one still waiting. What happens on the GUI thread itself (the last
// write of a call whose save failed, clearing the file) first waits for the write in flight and
// drops the waiting one, so no late write can undo it.
class CheckpointWriter final : public QObject {
    Q_OBJECT
public:
    explicit CheckpointWriter(QObject* parent = nullptr);
    ~CheckpointWriter() override; // waits for the write in flight

    // GUI thread. The outcome arrives through onWritten, on the GUI thread.
    void writeLater(SessionCheckpoint checkpoint, QString path);
    WriteResult writeNow(const SessionCheckpoint& checkpoint, const QString& path);
    void clearNow(const QString& path);

    std::function<void(const WriteResult& result)> onWritten;

private:
    struct Job {
        SessionCheckpoint checkpoint;
        QString path;
    };
    void writePending(); // on the worker
    void settle();       // drops the waiting job and waits for the one in flight

    QThreadPool m_worker;
    QMutex m_mutex;
    QWaitCondition m_idle;
    std::optional<Job> m_pending;
    bool m_writing = false;
};

} // namespace quiro
