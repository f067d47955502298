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
}

void AudioCapture::started()
{
    recorder().startTimer(pumpIntervalMs, [this] {
        if (std::optional<QByteArray> chunk = m_pump.tick())
            deliver(std::move(*chunk));
    });
}

void AudioCapture::clearPending()
{
    m_pump.clear();
}

bool AudioCapture::isMicrophoneAuthorized()
{
    return opens(PulseRecorder::Device::defaultSource, QByteArrayLiteral("quiro.audioprobe"));
}

} // namespace quiro
