#include "audio/AudioCapture.h"

namespace quiro {

AudioCapture::AudioCapture()
    // Fragments as long as the pump's tick: one wake-up per chunk.
    : PulseCapture(PulseRecorder::Device::defaultSource, QByteArrayLiteral("quiro.audio"), pumpIntervalMs,
                   {QStringLiteral("Audio"), QStringLiteral("The microphone capture"),
                    QStringLiteral("Default microphone changed — now recording from %1 (%2)"),
                    QStringLiteral("Microphone stream stopped with error: %1")})
{
}

AudioCapture::~AudioCapture()
{
    PulseCapture::stop();
}

void AudioCapture::received(QByteArrayView fragment)
{
    m_pump.append(fragment);
    pump();
}

void AudioCapture::pump()
{
    if (m_pump.pendingSamples() < chunkSamples)
        return;
    const qint64 sinceLast = m_sinceLastChunk.isValid() ? m_sinceLastChunk.elapsed() : pumpIntervalMs;
    if (sinceLast < pumpIntervalMs - pumpJitterMs) {
        recorder().callAfter(int(pumpIntervalMs - sinceLast), [this] { pump(); });
        return;
    }
    std::optional<QByteArray> chunk = m_pump.tick();
    m_sinceLastChunk.start();
    deliver(std::move(*chunk));
    if (m_pump.pendingSamples() >= chunkSamples)
        recorder().callAfter(pumpIntervalMs, [this] { pump(); });
}

void AudioCapture::clearPending()
{
    m_pump.clear();
    m_sinceLastChunk.invalidate();
}

bool AudioCapture::isMicrophoneAuthorized()
{
    return opens(PulseRecorder::Device::defaultSource, QByteArrayLiteral("quiro.audioprobe"));
}

} // namespace quiro
