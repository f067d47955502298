#pragma once

#include "transcription/TranscriptStream.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace quiro {

// Why a speech-to-text stream is not delivering right now.
struct StreamTrouble {
    enum class Kind {
        dropped,      // a working connection was lost; retried after the reconnect delay
        unreachable,  // no connection could be made (service down, name or TLS failure); retried with backoff
        refused,      // the service accepted the connection and then closed it; retried with backoff
        unauthorized, // the service refused the bearer token; not retried
        unusable,     // retrying cannot help (bad address, unknown language, path or origin refused); not retried
    };
    Kind kind = Kind::dropped;
    QString detail;     // the service's or the network's own words
    int retryInMs = -1; // when the next attempt is made; -1 when there is none

    bool isFinal() const { return retryInMs < 0; }
};

// One audio source streamed to speech-to-text, as the session controller uses it. Everything but
// send() happens on the GUI thread, callbacks included.
class Transcriber {
public:
    virtual ~Transcriber() = default;

    virtual void start() = 0;
    // Ends the stream: no more audio goes out, and the service is asked for the results of what it
    // already has. Those still arrive (as final transcripts) until the service closes the stream
    // or a short time has passed; then the transcript stream finishes and onDrained is called.
    virtual void stop() = 0;
    // Thread-safe: the capture's thread hands over each chunk.
    virtual void send(QByteArray chunk) = 0;

    // Final transcripts of the microphone stream, read one at a time.
    virtual TranscriptStream transcripts() = 0;

    virtual void onConnected(std::function<void()> callback) = 0;
    virtual void onDisconnected(std::function<void(const StreamTrouble&)> callback) = 0;
    virtual void onFinalTranscript(std::function<void(const QString&)> callback) = 0;
    // Exactly once after stop(), never from inside stop() itself.
    virtual void onDrained(std::function<void()> callback) = 0;
};

} // namespace quiro
