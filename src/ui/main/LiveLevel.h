#pragma once

#include "audio/AudioSource.h"

#include <QObject>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace quiro {

// How loud one side of the call is right now: keeps a capture open and reports the level of each
// tenth of a second. The capture's thread adds its chunks to a meter under a lock; the GUI thread
// takes the meter's reading on a timer and starts a fresh one.
class LiveLevel : public QObject {
    Q_OBJECT
public:
    using CaptureFactory = std::function<std::unique_ptr<AudioSource>()>;
    static constexpr int windowMs = 100;

    explicit LiveLevel(CaptureFactory makeCapture, QObject* parent = nullptr);
    ~LiveLevel() override;

    // Opens the device; nothing once the level is being measured, else what went wrong.
    QCoro::Task<std::optional<AudioSource::Failure>> start();
    // Closes the device. Safe when not started.
    void stop();

signals:
    // The level of the last window in dBFS (minus infinity for digital silence); not emitted for a
    // window in which no audio arrived.
    void measured(double dbfs);

private:
    struct Window;

    void takeWindow();

    CaptureFactory m_makeCapture;
    std::unique_ptr<AudioSource> m_capture;
    std::shared_ptr<Window> m_window;
    QTimer m_timer;
};

} // namespace quiro
