#include "audio/HearingCheck.h"

#include "audio/AudioCapture.h"
#include "audio/SystemAudioCapture.h"

#include <QCoro/QCoroFuture>
#include <QPromise>
#include <QThread>

#include <memory>
#include <variant>

namespace quiro::HearingCheck {

namespace {

using Queried = std::variant<SoundServer::Info, QString>;

// The query talks to the server on a loop of its own and waits for it: a worker thread keeps
// that wait away from the caller's event loop.
QFuture<Queried> queryInBackground()
{
    auto promise = std::make_shared<QPromise<Queried>>();
    QFuture<Queried> future = promise->future();
    promise->start();
    QThread* worker = QThread::create([promise] {
        promise->addResult(SoundServer::query());
        promise->finish();
    });
    worker->setObjectName(QStringLiteral("quiro.soundcheck"));
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
    return future;
}

QString deviceText(const QString& description, const QString& name)
{
    return QStringLiteral("%1 (%2)").arg(description, name);
}

} // namespace

std::optional<QString> microphoneProblem(const SoundServer::Info& info)
{
    if (info.defaultSource.isEmpty())
        return QStringLiteral("no input device — plug in a microphone or enable it in ") + soundSettings;
    if (info.sourceIsMonitor)
        return QStringLiteral("the default input \"%1\" only repeats what the computer plays — plug in a "
                              "microphone or choose it in %2")
            .arg(info.defaultSourceDescription, soundSettings);
    if (info.sourceMuted)
        return QStringLiteral("%1 is muted — unmute it in %2")
            .arg(deviceText(info.defaultSourceDescription, info.defaultSource), soundSettings);
    return std::nullopt;
}

QString playbackProblem(const AudioSource::Failure& failure)
{
    if (failure.error == AudioSource::CaptureError::noDisplay)
        return QStringLiteral("no output device to listen to — choose one in ") + soundSettings;
    return failure.message;
}

QString serverProblem(const QString& error)
{
    return error + QStringLiteral(" — start PulseAudio or PipeWire (pipewire-pulse) and log in again");
}

QCoro::Task<Result> microphone()
{
    const Queried queried = co_await queryInBackground();
    if (const auto* error = std::get_if<QString>(&queried))
        co_return Result{false, {}, serverProblem(*error)};
    if (auto problem = microphoneProblem(std::get<SoundServer::Info>(queried)))
        co_return Result{false, {}, *problem};
    AudioCapture capture;
    if (const auto failure = co_await capture.start())
        co_return Result{false, {}, failure->message};
    Result result{true, deviceText(capture.deviceDescription(), capture.deviceName()), {}};
    capture.stop();
    co_return result;
}

QCoro::Task<Result> playback()
{
    SystemAudioCapture capture;
    if (const auto failure = co_await capture.start())
        co_return Result{false, {}, playbackProblem(*failure)};
    Result result{
        true, QStringLiteral("monitor of ") + deviceText(capture.deviceDescription(), capture.deviceName()), {}};
    capture.stop();
    co_return result;
}

} // namespace quiro::HearingCheck
