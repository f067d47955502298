#pragma once

#include <QByteArray>
#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

namespace quiro {

// What a coached call needs of a capture: it starts without blocking the caller, hands over
// 16 kHz mono s16le chunks, says when the sound server goes away and comes back, and stops.
// The session controller holds both captures through this interface, so a call can be driven
// without a sound server.
class AudioSource {
public:
    enum class CaptureError {
        noDisplay,        // there is no device whose sound could be recorded
        permissionDenied, // the device exists but cannot be opened
    };

    struct Failure {
        std::optional<CaptureError> error; // one of the two cases above, or none for other failures
        QString message;                   // one sentence for people, saying what to do where we can

        // The case name ("noDisplay", "permissionDenied") for the two cases, else the message.
        QString description() const;
    };

    enum class ServerLink {
        lost,     // the sound server went away; the capture keeps trying to reconnect
        restored, // recording again after a loss
    };

    using ChunkHandler = std::function<void(QByteArray chunk)>;
    using ServerLinkHandler = std::function<void(ServerLink link)>;

    virtual ~AudioSource() = default;

    // The receiver of every chunk, called on the capture's own thread. May be replaced while running.
    virtual void setOnChunk(ChunkHandler handler) = 0;
    // Called on the capture's own thread, like onChunk, when the sound server is lost and when
    // audio flows again: each once per loss, however many reconnection attempts lie between them,
    // and no chunk in between. May be replaced while running.
    virtual void setOnServerLink(ServerLinkHandler handler) = 0;

    // Opens the device; the task completes on the caller's thread with nothing once audio flows,
    // or with what went wrong. Stopping or destroying the capture meanwhile completes it with a
    // failure.
    virtual QCoro::Task<std::optional<Failure>> start() = 0;

    // Afterwards no chunk and no link change is delivered. Safe when not started. Not from a callback.
    virtual void stop() = 0;
};

} // namespace quiro
