#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace quiro {

// Turns each fragment the sound server delivers into one chunk of whole s16le samples. A
// transcription stream that receives half a sample shifts every following sample by one byte and
// hears noise, so an odd trailing byte is carried over to the front of the next fragment.
// Not thread-safe: used only on the capture's own thread.
class FragmentChunker {
public:
    // The chunk for this fragment: never empty, always an even number of bytes; nothing when
    // the fragment (with any carried byte) holds no whole sample.
    std::optional<QByteArray> take(QByteArrayView fragment);

    // Forgets a carried byte (a new stream starts on a sample boundary).
    void reset() { m_carry.reset(); }

private:
    std::optional<char> m_carry;
};

} // namespace quiro
