#pragma once

#include "audio/AudioSource.h"
#include "audio/ChunkPump.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace quiro {

class PulseRecorder;

// The seller's microphone: a record stream on the sound server's default input, delivered as
// chunks of exactly 1600 samples (3200 bytes, 100 ms) of 16 kHz mono s16le.
//
// The capture runs its own thread ("quiro.audio"): the server's fragments are appended to the
// pending buffer there, and a 100 ms pump on the same thread cuts at most one chunk per tick and
// hands it to onChunk — on that thread, never on the caller's. When the default input changes
// (a headset is plugged in) the capture moves to it and logs the device it now records from.
class AudioCapture final : public AudioSource {
public:
    static constexpr double targetRate = 16000.0;
    static constexpr qint64 chunkSamples = ChunkPump::chunkSamples;
    static constexpr int pumpIntervalMs = 100;

    AudioCapture();
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    void setOnChunk(ChunkHandler handler) override;
    void setOnServerLink(ServerLinkHandler handler) override;

    // Opens the default input on the capture's thread and starts the pump; the caller's thread is
    // never blocked, even by a sound server that hangs. Completes with nothing once the microphone
    // is being captured, or with what went wrong in one sentence. Starting a running capture does
    // nothing.
    QCoro::Task<std::optional<Failure>> start() override;

    // Stops the stream and the pump and drops pending samples. When it returns no chunk is being
    // delivered and none will be. Safe on a capture that never started. Not from onChunk.
    void stop() override;

    bool isRunning() const { return m_recorder != nullptr && m_started; }

    // Whether a microphone can be recorded: the server has a default input that is not merely an
    // output's monitor, and it opens. Linux has no microphone permission prompt; this is what
    // "authorised" means here. Blocks for the round trips to the local server.
    static bool isMicrophoneAuthorized();

    // The input being recorded ("Built-in Audio Analog Stereo"), empty when not running.
    QString deviceDescription() const;
    QString deviceName() const;

private:
    void pumpTick();

    std::unique_ptr<PulseRecorder> m_recorder;
    bool m_started = false;
    // Bumped by every start and stop: a start that resumes after a stop sees it is stale.
    quint64 m_generation = 0;
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
    // Shared with the capture thread, guarded by the recorder's loop lock while it runs.
    ChunkPump m_pump;
    ChunkHandler m_onChunk;
    ServerLinkHandler m_onServerLink;
};

} // namespace quiro
