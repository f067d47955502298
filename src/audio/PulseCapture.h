#pragma once

#include "audio/AudioSource.h"
#include "audio/PulseRecorder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace quiro {

// What the two captures share: one PulseRecorder behind the AudioSource interface, a start that
// survives a stop or the capture's destruction while it waits for the server, the handlers the
// owner sets, and the log lines about devices and the server. The captures differ in the device,
// in how the server's fragments become chunks, and in what they do once recording runs.
//
// Every hook below that runs on the capture's thread runs with the recorder's loop lock held, as
// do the owner's handlers; the setters take the same lock, so a handler may be replaced at any time.
// A derived destructor calls PulseCapture::stop() first: the hooks are the derived class's own, and
// the capture thread may call them until the recorder is closed.
class PulseCapture : public AudioSource {
public:
    ~PulseCapture() override;
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    void setOnChunk(ChunkHandler handler) final;
    void setOnServerLink(ServerLinkHandler handler) final;

    // Opens the device on the capture's thread; the caller's thread is never blocked, even by a
    // server that hangs. Starting a running capture does nothing.
    QCoro::Task<std::optional<Failure>> start() final;

    // Stops the stream and drops pending samples; when it returns no chunk or link change is being
    // delivered and none will be. Safe on a capture that never started. Not from a handler.
    void stop() override;

    bool isRunning() const { return m_recorder != nullptr && m_started; }

    // The device being recorded ("Built-in Audio Analog Stereo", "alsa_input.…"); empty when not
    // recording.
    QString deviceDescription() const;
    QString deviceName() const;

protected:
    struct Wording {
        QString tag;           // of every log line: "Audio", "SysAudio"
        QString capture;       // what was stopped or discarded while starting: "System audio capture"
        QString deviceChanged; // the log line for a new default device: %1 its description, %2 its name
        QString streamError;   // the log line for a stream that ended on its own: %1 the error
    };

    // fragmentMs: the latency asked of the device. Each delivery wakes the capture thread, and the
    // wake-ups are nearly all of its CPU cost.
    PulseCapture(PulseRecorder::Device device, QByteArray threadName, int fragmentMs, Wording wording);

    // One fragment from the server. Capture thread.
    virtual void received(QByteArrayView fragment) = 0;
    // Recording runs; start() is about to complete. Caller's thread.
    virtual void started() {}
    // Forgets whatever is pending. Called with the capture thread stopped.
    virtual void clearPending() = 0;

    // Hands a chunk to the owner. Capture thread.
    void deliver(QByteArray chunk);
    PulseRecorder& recorder() { return *m_recorder; }

    // Whether the device opens; blocks for the round trips to the local server.
    static bool opens(PulseRecorder::Device device, QByteArray threadName);

private:
    PulseRecorder::Callbacks callbacks();

    const PulseRecorder::Device m_device;
    const QByteArray m_threadName;
    const int m_fragmentMs;
    const Wording m_wording;
    std::unique_ptr<PulseRecorder> m_recorder;
    bool m_started = false;
    // Bumped by every start and stop: a start that resumes after a stop sees it is stale.
    quint64 m_generation = 0;
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
    ChunkHandler m_onChunk;
    ServerLinkHandler m_onServerLink;
};

} // namespace quiro
