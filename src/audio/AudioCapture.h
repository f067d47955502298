#pragma once

#include "audio/ChunkPump.h"
#include "audio/PulseCapture.h"

#include <QElapsedTimer>

namespace quiro {

// The seller's microphone: a record stream on the sound server's default input, delivered as
// chunks of exactly 1600 samples (3200 bytes, 100 ms) of 16 kHz mono s16le.
//
// The capture runs its own thread ("quiro.audio"): the server's fragments are appended to the
// pending buffer there, and a 100 ms pump on the same thread cuts at most one chunk per tick and
// hands it to onChunk — on that thread, never on the caller's. The pump ticks when a fragment
// completes a chunk a tick after the last one, so a steady stream wakes the thread once per chunk;
// a chunk that is early, or a backlog after a hiccup, waits on a timer for the next tick.
// When the default input changes (a headset is plugged in) the capture moves to it and logs the
// device it now records from.
class AudioCapture final : public PulseCapture {
public:
    static constexpr double targetRate = 16000.0;
    static constexpr qint64 chunkSamples = ChunkPump::chunkSamples;
    static constexpr int pumpIntervalMs = 100;
    // How much earlier than a whole tick after the last chunk a fragment may still cut the next:
    // the server's deliveries wander by a few milliseconds, and each miss would cost a wake-up.
    static constexpr int pumpJitterMs = 20;

    AudioCapture();
    ~AudioCapture() override;

    // Whether a microphone can be recorded: the server has a default input that is not merely an
    // output's monitor, and it opens. Linux has no microphone permission prompt; this is what
    // "authorised" means here. Blocks for the round trips to the local server.
    static bool isMicrophoneAuthorized();

private:
    void received(QByteArrayView fragment) override;
    void clearPending() override;
    void pump();

    // Guarded by the recorder's loop lock while the capture thread runs.
    ChunkPump m_pump;
    QElapsedTimer m_sinceLastChunk;
};

} // namespace quiro
