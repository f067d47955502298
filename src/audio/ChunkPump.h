#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace quiro {

// The microphone's pending buffer and its cutting rule. Samples arrive in whatever amounts the
// sound server delivers; every pump tick cuts at most one chunk of exactly 1600 samples (3200
// bytes of s16le), so the transcription stream gets evenly sized, evenly spaced frames. A backlog
// is worked off one chunk per tick rather than in a burst.
// Not thread-safe: the capture touches it only on its own thread.
class ChunkPump {
public:
    static constexpr qsizetype chunkSamples = 1600;
    static constexpr qsizetype bytesPerSample = 2;
    static constexpr qsizetype chunkBytes = chunkSamples * bytesPerSample;

    // Appends raw s16le bytes; an odd trailing byte waits for its other half.
    void append(QByteArrayView bytes);

    // One tick of the pump: the next chunk when a whole one is pending, otherwise nothing.
    std::optional<QByteArray> tick();

    // Drops everything pending.
    void clear();

    qsizetype pendingSamples() const { return m_pending.size() / bytesPerSample; }

private:
    QByteArray m_pending;
};

} // namespace quiro
