#pragma once

#include <QByteArray>
#include <QString>

namespace quiro {

// One message of the speech-to-text stream, as far as the client cares: the stream is ready, a
// final transcript, or the service's error. Everything else (interim results, unknown types,
// malformed text) is `other` and ignored.
struct SttMessage {
    enum class Kind { metadata, finalTranscript, error, other };

    Kind kind = Kind::other;
    QString text; // the final transcript (trimmed, never empty), or the error's message

    static SttMessage parse(const QByteArray& utf8);
};

} // namespace quiro
