#include "audio/SystemAudioCapture.h"

#include "core/Log.h"

namespace quiro {

namespace {
const QString tag = QStringLiteral("SysAudio");
} // namespace

SystemAudioCapture::SystemAudioCapture()
    // The transcription stream hears the client within a twentieth of a second of the server.
    : PulseCapture(PulseRecorder::Device::defaultSinkMonitor, QByteArrayLiteral("quiro.sysaudio"), 50,
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
    if (std::optional<QByteArray> chunk = m_chunker.take(fragment))
        deliver(std::move(*chunk));
}

void SystemAudioCapture::started()
{
    Log::line(tag, QStringLiteral("Started — system audio capture active"));
}

void SystemAudioCapture::clearPending()
{
    m_chunker.reset();
}

bool SystemAudioCapture::isScreenRecordingGranted()
{
    return opens(PulseRecorder::Device::defaultSinkMonitor, QByteArrayLiteral("quiro.sysprobe"));
}

} // namespace quiro
