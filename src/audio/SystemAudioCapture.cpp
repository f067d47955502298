#include "audio/SystemAudioCapture.h"

#include "audio/PulseRecorder.h"
#include "core/Log.h"

#include <QCoro/QCoroFuture>

namespace quiro {

namespace {

const QString tag = QStringLiteral("SysAudio");

// The latency we ask of the output's monitor, and so the length of each chunk (1600 bytes). Every
// delivery wakes the capture thread; 50 ms keeps that cost low while the transcription stream
// still hears the other side within a twentieth of a second.
constexpr int fragmentMs = 50;

using PulseFailure = std::optional<PulseRecorder::Failure>;

} // namespace

SystemAudioCapture::SystemAudioCapture() = default;

SystemAudioCapture::~SystemAudioCapture()
{
    closeQuietly();
}

void SystemAudioCapture::setOnChunk(ChunkHandler handler)
{
    if (m_recorder)
        m_recorder->withLock([&] { m_onChunk = std::move(handler); });
    else
        m_onChunk = std::move(handler);
}

void SystemAudioCapture::setOnServerLink(ServerLinkHandler handler)
{
    if (m_recorder)
        m_recorder->withLock([&] { m_onServerLink = std::move(handler); });
    else
        m_onServerLink = std::move(handler);
}

void SystemAudioCapture::deliver(const char* data, qsizetype bytes)
{
    std::optional<QByteArray> chunk = m_chunker.take(QByteArrayView(data, bytes));
    if (chunk && m_onChunk)
        m_onChunk(std::move(*chunk));
}

QCoro::Task<std::optional<SystemAudioCapture::Failure>> SystemAudioCapture::start()
{
    if (m_recorder)
        co_return std::nullopt;

    PulseRecorder::Callbacks callbacks;
    callbacks.data = [this](const char* data, qsizetype bytes) { deliver(data, bytes); };
    callbacks.deviceChanged = [](const PulseRecorder::DeviceInfo& device) {
        Log::line(
            tag, QStringLiteral("Default output changed — now capturing %1 (%2)").arg(device.description, device.name));
    };
    callbacks.streamError = [](const QString& error) {
        Log::line(tag, QStringLiteral("Stream stopped with error: %1").arg(error));
    };
    m_chunker.reset();
    m_started = false;
    m_recorder = std::make_unique<PulseRecorder>(PulseRecorder::Device::defaultSinkMonitor,
                                                 QByteArrayLiteral("quiro.sysaudio"), fragmentMs, std::move(callbacks));
    const quint64 generation = ++m_generation;
    const std::weak_ptr<int> alive = m_lifetime;

    const PulseFailure outcome = co_await m_recorder->openAsync();

    if (alive.expired())
        co_return Failure{std::nullopt, QStringLiteral("System audio capture was discarded while starting")};
    if (generation != m_generation || !m_recorder)
        co_return Failure{std::nullopt, QStringLiteral("System audio capture was stopped while starting")};
    if (outcome) {
        closeQuietly();
        co_return PulseRecorder::captureFailure(*outcome);
    }
    m_started = true;
    Log::line(tag, QStringLiteral("Started — system audio capture active"));
    co_return std::nullopt;
}

void SystemAudioCapture::stop()
{
    closeQuietly();
    Log::line(tag, QStringLiteral("Stopped"));
}

void SystemAudioCapture::closeQuietly()
{
    ++m_generation;
    m_started = false;
    if (m_recorder) {
        m_recorder->close();
        m_recorder.reset();
    }
    m_chunker.reset();
}

QString SystemAudioCapture::deviceDescription() const
{
    return m_recorder ? m_recorder->device().description : QString();
}

QString SystemAudioCapture::deviceName() const
{
    return m_recorder ? m_recorder->device().name : QString();
}

bool SystemAudioCapture::isScreenRecordingGranted()
{
    PulseRecorder probe(PulseRecorder::Device::defaultSinkMonitor, QByteArrayLiteral("quiro.sysprobe"), fragmentMs, {});
    const bool opened = !probe.openAndWait().has_value();
    probe.close();
    return opened;
}

} // namespace quiro
