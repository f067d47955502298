#pragma once

#include "audio/AudioSource.h"
#include "audio/PacedLoop.h"

#include <QByteArray>
#include <QFuture>
#include <QString>

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quiro {

// One PulseAudio record stream in s16le, 16000 Hz, mono (the server resamples and downmixes),
// with its own thread: a PacedLoop named after the capture, which wakes to read the recording
// stream once per read pace, however small the blocks the server sends. Every callback of this
// class runs on that thread with the loop lock held, so whatever the callbacks share needs no
// other lock; code on other threads reaches that state through withLock().
//
// It follows the server's default device: when the default source (or, for a monitor, the default
// sink) changes, the stream is re-opened on the new device and deviceChanged reports it. The
// session goes on; the transcription stream sees at most a few milliseconds' gap.
//
// It also outlives the server: when the connection is lost while recording, it connects again,
// with a pause between attempts that grows to maxRetryDelayMs, for as long as it stays open, and
// records from whatever the default device is once the server is back.
class PulseRecorder {
public:
    enum class Device { defaultSource, defaultSinkMonitor };

    enum class FailureKind {
        noServer,   // no sound server answers
        noDevice,   // no default source / sink (or only a monitor where a microphone is wanted)
        openFailed, // the device exists but its stream cannot be opened
        other,
    };
    struct Failure {
        FailureKind kind;
        QString message; // one sentence for the user, saying what to do where we can
    };

    struct DeviceInfo {
        QString name;        // the server's device name, e.g. "alsa_input.usb-…" or "spk.monitor"
        QString description; // what the desktop's sound settings show
    };

    struct Callbacks {
        // Raw bytes of one delivered fragment. Loop thread, lock held.
        std::function<void(const char* data, qsizetype bytes)> data;
        // The stream now records from another device after the default changed. Loop thread.
        std::function<void(const DeviceInfo& device)> deviceChanged;
        // The stream ended on its own: the server is gone (serverLink follows), or the device is
        // gone and no usable default replaced it (recording resumes, with deviceChanged, once one
        // appears). Loop thread.
        std::function<void(const QString& error)> streamError;
        // The server went away (lost), or audio flows again after it came back (restored): each
        // once per loss, whatever the number of attempts between them. Loop thread, lock held.
        std::function<void(AudioSource::ServerLink link)> serverLink;
    };

    // The failure as a capture reports it: no device → noDisplay, a device that does not open →
    // permissionDenied, the rest with their message only.
    static AudioSource::Failure captureFailure(const Failure& failure);

    using OpenHandler = std::function<void(std::optional<Failure> failure)>;

    // threadName: the loop thread's name ("quiro.audio", "quiro.sysaudio"); fragmentMs: how much
    // audio gathers before the thread wakes to read it.
    PulseRecorder(Device device, QByteArray threadName, int fragmentMs, Callbacks callbacks);
    ~PulseRecorder();
    PulseRecorder(const PulseRecorder&) = delete;
    PulseRecorder& operator=(const PulseRecorder&) = delete;

    // Starts the loop thread, connects and opens the stream. `done` is called exactly once: on the
    // loop thread when the stream is ready or fails, or from close() if that comes first.
    // Call once per instance.
    void open(OpenHandler done);

    // open() with its outcome delivered through a future, which a coroutine on any thread with an
    // event loop can await; the future holds the outcome even when it comes before anyone waits.
    QFuture<std::optional<Failure>> openAsync();

    // open() and wait for its outcome on the calling thread (a local server answers in a few
    // milliseconds; a silent one is given up after openTimeoutMs). On failure the loop is closed.
    std::optional<Failure> openAndWait();

    // Stops the stream and joins the loop thread. Once it returns, no callback runs any more.
    // A connection the server is still naming is let finish first (milliseconds; at most
    // namingWaitMs when the server hangs). Idempotent. Must not be called from a callback (the loop
    // thread cannot join itself).
    void close();

    // Calls `fn` once on the loop thread delayMs from now (monotonic clock), in place of a call
    // still pending. Only while open; a pending call is dropped when the server is lost.
    void callAfter(int delayMs, std::function<void()> fn);

    // How long audio gathers between reads while the stream records: fragmentMs until this is
    // called. Loop thread.
    void setReadPace(int ms) { m_loop->setPace(ms); }

    // Runs fn with the loop lock held (directly when already on the loop thread or not running).
    void withLock(const std::function<void()>& fn);

    // The device in use; empty before the stream is ready.
    DeviceInfo device();

    static constexpr int openTimeoutMs = 5000;
    // The pause before the first reconnection attempt, doubled after each failed one up to the last.
    static constexpr int firstRetryDelayMs = 250;
    static constexpr int maxRetryDelayMs = 2000;
    // How long a default that is missing right after a server change may stay missing before the
    // connection is renewed, and then once more before the device counts as lost. PipeWire names a
    // placeholder first and the real device a few milliseconds later, in a second change event.
    static constexpr int deviceGapMs = 500;
    // How long close() lets a connection that the server is still naming finish before it drops it.
    static constexpr int namingWaitMs = 500;

private:
    enum class Phase { idle, opening, running, failed, closed };

    static void contextStateCallback(pa_context* context, void* self);
    static void subscribeCallback(pa_context* context, pa_subscription_event_type_t eventType, uint32_t index,
                                  void* self);
    static void serverInfoCallback(pa_context* context, const pa_server_info* info, void* self);
    static void sinkInfoCallback(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void sourceInfoCallback(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void streamStateCallback(pa_stream* stream, void* self);
    static void streamReadCallback(pa_stream* stream, size_t bytes, void* self);
    static void timerCallback(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void openTimeoutCallback(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void retryCallback(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void deviceGapCallback(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
    static void wakeCallback(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);

    bool newContext();
    void releaseContext();
    void letNamingFinish();
    void serverLost();
    bool reconnectAfter(int delayMs);
    pa_time_event* newTimer(int delayMs, pa_time_event_cb_t callback);
    void freeTimer(pa_time_event*& event);
    void resolveDefault();
    void resolved(std::optional<Failure> failure);
    void connectStream();
    void dropStream();
    void paceReads();
    void streamFailed(const QString& error);
    void reportLost(const QString& error);
    void finishOpen(std::optional<Failure> failure);
    QString contextError() const;

    const Device m_device;
    const QByteArray m_threadName;
    const int m_fragmentMs;
    Callbacks m_callbacks;

    // Everything below is touched only with the loop lock held (or before the loop starts).
    std::unique_ptr<PacedLoop> m_loop;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_timer = nullptr;
    pa_time_event* m_openTimeout = nullptr;
    pa_time_event* m_retryTimer = nullptr;
    pa_time_event* m_deviceGap = nullptr;
    Phase m_phase = Phase::idle;
    OpenHandler m_openDone;

    std::function<void()> m_timerCall;

    // Device resolution runs one at a time; a server change during one asks for another round.
    bool m_resolving = false;
    bool m_resolveAgain = false;
    QString m_defaultName; // the default source, or the default sink whose monitor we record
    QString m_candidateDefault;
    DeviceInfo m_candidate;
    bool m_candidateFound = false;
    bool m_candidateIsMonitor = false;
    DeviceInfo m_connecting;
    DeviceInfo m_current;
    int m_failuresSinceReady = 0;
    bool m_lostReported = false;
    QString m_gapError; // why the device would count as lost when m_deviceGap expires
    bool m_gapReconnected = false;

    // Set from the loss of the server until audio flows again.
    bool m_serverLost = false;
    int m_retryDelayMs = firstRetryDelayMs;
};

} // namespace quiro
