#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace quiro {

// Joins the fragments the sound server delivers into chunks of whole s16le samples of at least
// minChunkBytes. An output's monitor delivers in whatever blocks the output renders (often 10 ms),
// and every chunk is one frame on the transcription stream, with a wake-up at both ends. A stream
// that receives half a sample shifts every following sample by one byte and hears noise, so an
// odd trailing byte waits for its other half.
// Not thread-safe: used only on the capture's own thread.
class FragmentChunker {
public:
    // A chunk of every whole sample pending once there are at least minChunkBytes of them:
    // always an even number of bytes; nothing until then.
    std::optional<QByteArray> take(QByteArrayView fragment, qsizetype minChunkBytes);

    // Forgets what is pending (a new stream starts on a sample boundary).
    void reset() { m_pending.clear(); }

private:
    QByteArray m_pending;
};

} // namespace quiro
