#include "audio/AudioCapture.h"

#include "audio/PulseRecorder.h"
#include "core/Log.h"

#include <QCoro/QCoroFuture>

namespace quiro {

namespace {
// The latency we ask of the input device. Each delivery wakes the capture thread, and the
// wake-ups are nearly all of its CPU cost: 50 ms keeps both captures well under 1 % of a core
// while a chunk still waits at most one fragment plus one pump period.
constexpr int fragmentMs = 50;
} // namespace

AudioCapture::AudioCapture() = default;

AudioCapture::~AudioCapture()
{
    stop();
}

void AudioCapture::setOnChunk(ChunkHandler handler)
{
    if (m_recorder)
        m_recorder->withLock([&] { m_onChunk = std::move(handler); });
    else
        m_onChunk = std::move(handler);
}

void AudioCapture::setOnServerLink(ServerLinkHandler handler)
{
    if (m_recorder)
        m_recorder->withLock([&] { m_onServerLink = std::move(handler); });
    else
        m_onServerLink = std::move(handler);
}

QCoro::Task<std::optional<AudioSource::Failure>> AudioCapture::start()
{
    if (m_recorder)
        co_return std::nullopt;
    PulseRecorder::Callbacks callbacks;
    callbacks.data = [this](const char* data, qsizetype bytes) { m_pump.append(QByteArrayView(data, bytes)); };
    callbacks.deviceChanged = [](const PulseRecorder::DeviceInfo& device) {
        Log::line(QStringLiteral("Audio"), QStringLiteral("Default microphone changed — now recording from %1 (%2)")
                                               .arg(device.description, device.name));
    };
    callbacks.streamError = [](const QString& error) {
        Log::line(QStringLiteral("Audio"), QStringLiteral("Microphone stream stopped with error: %1").arg(error));
    };
    m_pump.clear();
    m_started = false;
    m_recorder = std::make_unique<PulseRecorder>(PulseRecorder::Device::defaultSource, QByteArrayLiteral("quiro.audio"),
                                                 fragmentMs, std::move(callbacks));
    const quint64 generation = ++m_generation;
    const std::weak_ptr<int> alive = m_lifetime;

    const std::optional<PulseRecorder::Failure> outcome = co_await m_recorder->openAsync();

    if (alive.expired())
        co_return Failure{std::nullopt, QStringLiteral("The microphone capture was discarded while starting")};
    if (generation != m_generation || !m_recorder)
        co_return Failure{std::nullopt, QStringLiteral("The microphone capture was stopped while starting")};
    if (outcome) {
        stop();
        co_return PulseRecorder::captureFailure(*outcome);
    }
    m_started = true;
    m_recorder->startTimer(pumpIntervalMs, [this] { pumpTick(); });
    co_return std::nullopt;
}

void AudioCapture::pumpTick()
{
    std::optional<QByteArray> chunk = m_pump.tick();
    if (chunk && m_onChunk)
        m_onChunk(std::move(*chunk));
}

void AudioCapture::stop()
{
    ++m_generation;
    m_started = false;
    if (m_recorder) {
        m_recorder->close();
        m_recorder.reset();
    }
    m_pump.clear();
}

bool AudioCapture::isMicrophoneAuthorized()
{
    PulseRecorder probe(PulseRecorder::Device::defaultSource, QByteArrayLiteral("quiro.audioprobe"), fragmentMs, {});
    const bool opened = !probe.openAndWait().has_value();
    probe.close();
    return opened;
}

QString AudioCapture::deviceDescription() const
{
    return m_recorder ? m_recorder->device().description : QString();
}

QString AudioCapture::deviceName() const
{
    return m_recorder ? m_recorder->device().name : QString();
}

} // namespace quiro
