#include "ui/main/LiveLevel.h"

#include "audio/AudioLevel.h"

#include <QMutex>
#include <QPointer>

namespace quiro {

struct LiveLevel::Window {
    QMutex mutex;
    AudioLevel::Meter meter;
};

LiveLevel::LiveLevel(CaptureFactory makeCapture, QObject* parent)
    : QObject(parent)
    , m_makeCapture(std::move(makeCapture))
    , m_window(std::make_shared<Window>())
{
    m_timer.setInterval(windowMs);
    connect(&m_timer, &QTimer::timeout, this, &LiveLevel::takeWindow);
}

LiveLevel::~LiveLevel()
{
    stop();
}

QCoro::Task<std::optional<AudioSource::Failure>> LiveLevel::start()
{
    stop();
    m_capture = m_makeCapture();
    // Called on the capture's thread; the window outlives the capture that feeds it.
    m_capture->setOnChunk([window = m_window](QByteArray chunk) {
        const QMutexLocker lock(&window->mutex);
        window->meter.add(chunk);
    });
    QPointer<LiveLevel> self(this);
    AudioSource* capture = m_capture.get();
    std::optional<AudioSource::Failure> failure = co_await capture->start();
    if (!self || m_capture.get() != capture)
        co_return AudioSource::Failure{std::nullopt, QStringLiteral("stopped")};
    if (failure)
        m_capture.reset();
    else
        m_timer.start();
    co_return failure;
}

void LiveLevel::stop()
{
    m_timer.stop();
    if (m_capture) {
        m_capture->stop();
        m_capture.reset();
    }
    const QMutexLocker lock(&m_window->mutex);
    m_window->meter = {};
}

void LiveLevel::takeWindow()
{
    AudioLevel::Meter taken;
    {
        const QMutexLocker lock(&m_window->mutex);
        std::swap(taken, m_window->meter);
    }
    if (taken.samples() > 0)
        emit measured(taken.dbfs());
}

} // namespace quiro
