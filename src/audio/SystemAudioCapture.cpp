#include "audio/SystemAudioCapture.h"

#include "audio/AudioLevel.h"
#include "core/Log.h"

namespace quiro {

namespace {
const QString tag = QStringLiteral("SysAudio");
constexpr qsizetype bytesPerMs = 32; // 16 kHz mono s16le
} // namespace

SystemAudioCapture::SystemAudioCapture()
    : PulseCapture(PulseRecorder::Device::defaultSinkMonitor, QByteArrayLiteral("quiro.sysaudio"), fragmentMs,
                   {tag, QStringLiteral("System audio capture"),
                    QStringLiteral("Default output changed — now capturing %1 (%2)"),
                    QStringLiteral("Stream stopped with error: %1")})
{
}

SystemAudioCapture::~SystemAudioCapture()
{
    PulseCapture::stop();
}

void SystemAudioCapture::stop()
{
    PulseCapture::stop();
    Log::line(tag, QStringLiteral("Stopped"));
}

void SystemAudioCapture::received(QByteArrayView fragment)
{
    if (AudioLevel::rmsDbfs(fragment) > soundDbfs)
        m_sinceSound.start();
    const bool prompt = m_sinceSound.isValid() && m_sinceSound.elapsed() < promptAfterSoundMs;
    const int readMs = prompt ? promptReadMs : quietReadMs;
    recorder().setReadPace(readMs);
    if (std::optional<QByteArray> chunk = m_chunker.take(fragment, qsizetype(readMs) * bytesPerMs))
        deliver(std::move(*chunk));
}

void SystemAudioCapture::started()
{
    Log::line(tag, QStringLiteral("Started — system audio capture active"));
}

void SystemAudioCapture::clearPending()
{
    m_chunker.reset();
    m_sinceSound.invalidate();
}

bool SystemAudioCapture::isScreenRecordingGranted()
{
    return opens(PulseRecorder::Device::defaultSinkMonitor, QByteArrayLiteral("quiro.sysprobe"));
}

} // namespace quiro
