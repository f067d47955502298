#pragma once

#include "audio/AudioSource.h"
#include "audio/FragmentChunker.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace quiro {

class PulseRecorder;

// What the computer plays — the other side of the call — recorded from the monitor of the sound
// server's default output (@DEFAULT_MONITOR@), as 16 kHz mono s16le. Each fragment the server
// delivers becomes one chunk: never empty, always whole samples.
//
// Runs its own thread ("quiro.sysaudio"); onChunk is called there. Follows the default output
// when it changes and logs the device it now records from.
class SystemAudioCapture final : public AudioSource {
public:
    using CaptureError = AudioSource::CaptureError;
    using Failure = AudioSource::Failure;

    SystemAudioCapture();
    ~SystemAudioCapture();
    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Set after start() succeeds (chunks before that are dropped) or before.
    void setOnChunk(ChunkHandler handler) override;
    void setOnServerLink(ServerLinkHandler handler) override;

    // Connects and opens the monitor without blocking the caller: the sound server is talked to
    // on the capture's own thread and the task completes on the caller's thread. Completes with
    // nothing once capture runs ("[SysAudio] Started — …" logged), or with what went wrong.
    // When the capture is stopped or destroyed meanwhile, the task completes with a failure.
    QCoro::Task<std::optional<Failure>> start() override;

    // Stops the stream; afterwards no chunk is delivered. Logs "[SysAudio] Stopped". Not from onChunk.
    void stop() override;

    bool isRunning() const { return m_recorder != nullptr && m_started; }

    QString deviceDescription() const;
    QString deviceName() const;

    // Whether the default output's monitor opens (the stand-in for a screen-recording permission
    // on this platform). Blocks for the round trips to the local server.
    static bool isScreenRecordingGranted();

private:
    void deliver(const char* data, qsizetype bytes);
    void closeQuietly();

    std::unique_ptr<PulseRecorder> m_recorder;
    bool m_started = false;
    quint64 m_generation = 0;
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
    // Used on the capture thread, guarded by the recorder's loop lock while it runs.
    FragmentChunker m_chunker;
    ChunkHandler m_onChunk;
    ServerLinkHandler m_onServerLink;
};

} // namespace quiro
