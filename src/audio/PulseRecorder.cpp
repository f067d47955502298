#include "audio/PulseRecorder.h"

#include "audio/SoundServer.h"
#include "core/Log.h"

#include <QPromise>

#include <pulse/rtclock.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace quiro {

namespace {

constexpr uint32_t targetRateHz = 16000;
constexpr int maxReopensWithoutAudio = 3;

pa_sample_spec targetSpec()
{
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = targetRateHz;
    spec.channels = 1;
    return spec;
}

QString fromUtf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace

AudioSource::Failure PulseRecorder::captureFailure(const Failure& failure)
{
    switch (failure.kind) {
    case FailureKind::noDevice:
        return {AudioSource::CaptureError::noDisplay, failure.message};
    case FailureKind::openFailed:
        return {AudioSource::CaptureError::permissionDenied, failure.message};
    case FailureKind::noServer:
    case FailureKind::other:
        break;
    }
    return {std::nullopt, failure.message};
}

PulseRecorder::PulseRecorder(Device device, QByteArray threadName, int fragmentMs, Callbacks callbacks)
    : m_device(device)
    , m_threadName(std::move(threadName))
    , m_fragmentMs(fragmentMs)
    , m_callbacks(std::move(callbacks))
{
}

PulseRecorder::~PulseRecorder()
{
    close();
}

void PulseRecorder::open(OpenHandler done)
{
    Q_ASSERT(m_phase == Phase::idle);
    m_openDone = std::move(done);
    m_phase = Phase::opening;

    // The loop lets audio gather for one fragment between reads, whatever blocks the server sends.
    m_loop = std::make_unique<PacedLoop>(m_threadName, m_fragmentMs);
    if (!m_loop->start()) {
        m_loop.reset();
        finishOpen(Failure{FailureKind::other, QStringLiteral("Could not start the audio thread")});
        return;
    }

    m_loop->lock();
    if (!newContext()) {
        finishOpen(Failure{FailureKind::other, QStringLiteral("Could not create a sound server connection")});
    } else if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        // No server name: libpulse honours PULSE_SERVER, the X11 root property and the user's
        // runtime folder, exactly like every other client of the desktop.
        finishOpen(Failure{FailureKind::noServer, QStringLiteral("No sound server answers (%1) — start PulseAudio or "
                                                                 "PipeWire (pipewire-pulse)")
                                                      .arg(contextError())});
    } else {
        m_openTimeout = newTimer(openTimeoutMs, &PulseRecorder::openTimeoutCallback);
    }
    m_loop->unlock();
}

QFuture<std::optional<PulseRecorder::Failure>> PulseRecorder::openAsync()
{
    // The recorder answers on its own thread; the promise carries the answer to whoever awaits it.
    auto promise = std::make_shared<QPromise<std::optional<Failure>>>();
    QFuture<std::optional<Failure>> future = promise->future();
    promise->start();
    open([promise](std::optional<Failure> failure) {
        promise->addResult(std::move(failure));
        promise->finish();
    });
    return future;
}

std::optional<PulseRecorder::Failure> PulseRecorder::openAndWait()
{
    std::optional<std::optional<Failure>> outcome;
    open([this, &outcome](std::optional<Failure> failure) {
        outcome = std::move(failure);
        if (m_loop)
            m_loop->signal();
    });
    if (m_loop) {
        m_loop->lock();
        while (!outcome)
            m_loop->wait();
        m_loop->unlock();
    }
    std::optional<Failure> failure = outcome.value_or(std::nullopt);
    if (failure)
        close();
    return failure;
}

void PulseRecorder::close()
{
    if (!m_loop) {
        m_phase = Phase::closed;
        if (auto pending = std::exchange(m_openDone, nullptr))
            pending(Failure{FailureKind::other, QStringLiteral("The capture was stopped before it started")});
        return;
    }
    if (m_loop->inThread()) {
        // Joining the loop from inside it would deadlock; the owner stops us from its own thread.
        Log::line(QStringLiteral("Audio"), QStringLiteral("A capture was stopped from its own audio thread; ignored"));
        return;
    }

    m_loop->lock();
    OpenHandler pending = std::exchange(m_openDone, nullptr);
    m_phase = Phase::closed;
    letNamingFinish();
    freeTimer(m_timer);
    releaseContext();
    m_loop->unlock();

    // The loop thread is joined here: from now on no callback of ours can be running or start.
    m_loop->stop();
    m_loop.reset();

    if (pending)
        pending(Failure{FailureKind::other, QStringLiteral("The capture was stopped before it started")});
}

void PulseRecorder::callAfter(int delayMs, std::function<void()> fn)
{
    withLock([&] {
        freeTimer(m_timer);
        if (m_phase != Phase::running || !m_context || m_serverLost)
            return;
        m_timerCall = std::move(fn);
        m_timer = newTimer(delayMs, &PulseRecorder::timerCallback);
    });
}

void PulseRecorder::withLock(const std::function<void()>& fn)
{
    if (!m_loop || m_loop->inThread()) {
        fn();
        return;
    }
    m_loop->lock();
    fn();
    m_loop->unlock();
}

PulseRecorder::DeviceInfo PulseRecorder::device()
{
    DeviceInfo info;
    withLock([&] { info = m_current; });
    return info;
}

// --- loop thread ---------------------------------------------------------------------------

bool PulseRecorder::newContext()
{
    m_context = pa_context_new(m_loop->api(), "Quiro");
    if (!m_context)
        return false;
    pa_context_set_state_callback(m_context, &PulseRecorder::contextStateCallback, this);
    return true;
}

// Drops the connection with everything that lives on it. The requests still pending are cancelled
// with it, and a cancelled request never calls back, so nothing of this connection reaches the next.
void PulseRecorder::releaseContext()
{
    freeTimer(m_openTimeout);
    freeTimer(m_retryTimer);
    freeTimer(m_deviceGap);
    dropStream();
    m_resolving = false;
    m_resolveAgain = false;
    m_defaultName.clear();
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

// PipeWire's PulseAudio layer (0.3.65) builds its view of the server for a client while it names
// it; a client that hangs up meanwhile can leave it announcing no new default device to any client
// from then on, until it restarts. So a connection being named is let finish first: a local server
// takes milliseconds, and one that hangs is given up after namingWaitMs.
void PulseRecorder::letNamingFinish()
{
    if (!m_context || pa_context_get_state(m_context) != PA_CONTEXT_SETTING_NAME)
        return;
    const pa_usec_t deadline = pa_rtclock_now() + pa_usec_t(namingWaitMs) * 1000;
    pa_time_event* wake = newTimer(namingWaitMs, &PulseRecorder::wakeCallback);
    // The state callback and the timer wake us.
    while (pa_context_get_state(m_context) == PA_CONTEXT_SETTING_NAME && pa_rtclock_now() < deadline)
        m_loop->wait();
    freeTimer(wake);
}

void PulseRecorder::wakeCallback(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    static_cast<PulseRecorder*>(self)->m_loop->signal();
}

// Timers live on the loop, not on the connection, so they outlast a lost one; they are made through
// a context only because it converts the monotonic deadline for the loop.
pa_time_event* PulseRecorder::newTimer(int delayMs, pa_time_event_cb_t callback)
{
    return pa_context_rttime_new(m_context, pa_rtclock_now() + pa_usec_t(delayMs) * 1000, callback, this);
}

void PulseRecorder::freeTimer(pa_time_event*& event)
{
    if (event)
        m_loop->api()->time_free(std::exchange(event, nullptr));
}

void PulseRecorder::finishOpen(std::optional<Failure> failure)
{
    if (m_loop)
        freeTimer(m_openTimeout);
    // After a failed open the loop idles until the owner closes it; callbacks ignore it.
    m_phase = failure ? Phase::failed : Phase::running;
    if (auto done = std::exchange(m_openDone, nullptr))
        done(std::move(failure));
}

QString PulseRecorder::contextError() const
{
    if (!m_context)
        return QStringLiteral("no connection");
    return fromUtf8(pa_strerror(pa_context_errno(m_context)));
}

void PulseRecorder::contextStateCallback(pa_context* context, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    // For close(), which may wait for the naming to finish.
    recorder->m_loop->signal();
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        // The first connection, or a new one after the server was lost: either way the default
        // device is looked up afresh.
        if (recorder->m_phase != Phase::opening && recorder->m_phase != Phase::running)
            return;
        pa_context_set_subscribe_callback(context, &PulseRecorder::subscribeCallback, self);
        if (pa_operation* op = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
            pa_operation_unref(op);
        recorder->resolveDefault();
        return;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        if (recorder->m_phase == Phase::opening) {
            recorder->finishOpen(
                Failure{FailureKind::noServer, QStringLiteral("No sound server answers (%1) — start PulseAudio or "
                                                              "PipeWire (pipewire-pulse)")
                                                   .arg(recorder->contextError())});
        } else if (recorder->m_phase == Phase::running) {
            recorder->serverLost();
        }
        return;
    default:
        return;
    }
}

// Reported once per loss; then a fresh connection is tried after a pause that doubles with every
// failed attempt, so a server that stays away costs one attempt every maxRetryDelayMs.
void PulseRecorder::serverLost()
{
    const QString error = contextError();
    // A pending call goes with the server, so that nothing is delivered until audio flows again.
    freeTimer(m_timer);
    m_current = {};
    if (!m_serverLost) {
        m_serverLost = true;
        m_retryDelayMs = firstRetryDelayMs;
        if (m_callbacks.streamError)
            m_callbacks.streamError(QStringLiteral("lost the sound server (%1)").arg(error));
        if (m_callbacks.serverLink)
            m_callbacks.serverLink(AudioSource::ServerLink::lost);
    }
    if (reconnectAfter(m_retryDelayMs))
        m_retryDelayMs = std::min(2 * m_retryDelayMs, maxRetryDelayMs);
}

// A context that has failed never connects again, and one whose view went stale is no use: every
// attempt gets a new one, which also carries the timer that starts the attempt.
bool PulseRecorder::reconnectAfter(int delayMs)
{
    releaseContext();
    if (!newContext()) {
        Log::line(QStringLiteral("Audio"), QStringLiteral("Could not create a sound server connection; %1 gives up")
                                               .arg(QString::fromUtf8(m_threadName)));
        freeTimer(m_timer);
        m_phase = Phase::failed;
        return false;
    }
    m_retryTimer = newTimer(delayMs, &PulseRecorder::retryCallback);
    return true;
}

void PulseRecorder::retryCallback(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    recorder->freeTimer(recorder->m_retryTimer);
    // No autospawn: a desktop restarts its own server (systemd, the session); one started by us
    // would stand beside it and take the devices from the user's sound settings.
    // A refused connection usually fails inside pa_context_connect, whose state callback has then
    // already scheduled the next attempt on a new context.
    pa_context* attempt = recorder->m_context;
    if (pa_context_connect(attempt, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 && attempt == recorder->m_context)
        recorder->serverLost();
}

void PulseRecorder::subscribeCallback(pa_context*, pa_subscription_event_type_t eventType, uint32_t, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    const auto facility = eventType & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility != PA_SUBSCRIPTION_EVENT_SERVER)
        return;
    // The server object changes when its default sink or source does (and on little else).
    if (recorder->m_phase == Phase::running || recorder->m_phase == Phase::opening)
        recorder->resolveDefault();
}

void PulseRecorder::resolveDefault()
{
    if (m_resolving) {
        m_resolveAgain = true;
        return;
    }
    m_resolving = true;
    paceReads();
    pa_operation* op = pa_context_get_server_info(m_context, &PulseRecorder::serverInfoCallback, this);
    if (!op) {
        resolved(Failure{FailureKind::other, contextError()});
        return;
    }
    pa_operation_unref(op);
}

void PulseRecorder::serverInfoCallback(pa_context* context, const pa_server_info* info, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    if (recorder->m_phase != Phase::opening && recorder->m_phase != Phase::running) {
        recorder->m_resolving = false;
        return;
    }
    if (!info) {
        recorder->resolved(Failure{FailureKind::other, recorder->contextError()});
        return;
    }
    const bool wantSource = recorder->m_device == Device::defaultSource;
    const QString name = fromUtf8(wantSource ? info->default_source_name : info->default_sink_name);
    if (name.isEmpty() || SoundServer::isPlaceholder(name)) {
        recorder->resolved(Failure{
            FailureKind::noDevice,
            wantSource ? QStringLiteral("No microphone found — the sound server has no input device; plug one in "
                                        "or enable it in the sound settings")
                       : QStringLiteral("No audio output found — the sound server has no default output device")});
        return;
    }
    if (recorder->m_stream && name == recorder->m_defaultName) {
        // Some other server setting changed; we already record from the default.
        recorder->resolved(std::nullopt);
        return;
    }

    recorder->m_candidate = {};
    recorder->m_candidateDefault = name;
    recorder->m_candidateFound = false;
    recorder->m_candidateIsMonitor = false;
    const QByteArray utf8 = name.toUtf8();
    pa_operation* op =
        wantSource
            ? pa_context_get_source_info_by_name(context, utf8.constData(), &PulseRecorder::sourceInfoCallback, self)
            : pa_context_get_sink_info_by_name(context, utf8.constData(), &PulseRecorder::sinkInfoCallback, self);
    if (!op) {
        recorder->resolved(Failure{FailureKind::other, recorder->contextError()});
        return;
    }
    pa_operation_unref(op);
}

void PulseRecorder::sinkInfoCallback(pa_context*, const pa_sink_info* info, int eol, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    if (eol == 0 && info) {
        recorder->m_candidate.description = fromUtf8(info->description);
        recorder->m_candidate.name = fromUtf8(info->monitor_source_name);
        recorder->m_candidateDefault = fromUtf8(info->name);
        recorder->m_candidateFound = !recorder->m_candidate.name.isEmpty();
        return;
    }
    if (recorder->m_phase != Phase::opening && recorder->m_phase != Phase::running) {
        recorder->m_resolving = false;
        return;
    }
    if (!recorder->m_candidateFound) {
        recorder->resolved(Failure{FailureKind::noDevice,
                                   QStringLiteral("No audio output found — the default output device has gone or "
                                                  "has no monitor")});
        return;
    }
    recorder->resolved(std::nullopt);
}

void PulseRecorder::sourceInfoCallback(pa_context*, const pa_source_info* info, int eol, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    if (eol == 0 && info) {
        recorder->m_candidate.description = fromUtf8(info->description);
        recorder->m_candidate.name = fromUtf8(info->name);
        recorder->m_candidateDefault = recorder->m_candidate.name;
        recorder->m_candidateIsMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
        recorder->m_candidateFound = true;
        return;
    }
    if (recorder->m_phase != Phase::opening && recorder->m_phase != Phase::running) {
        recorder->m_resolving = false;
        return;
    }
    if (!recorder->m_candidateFound) {
        recorder->resolved(Failure{FailureKind::noDevice,
                                   QStringLiteral("No microphone found — the default input device has gone; plug one "
                                                  "in or choose another in the sound settings")});
        return;
    }
    if (recorder->m_candidateIsMonitor) {
        // With no microphone at all the server falls back to a sink's monitor. Recording that as
        // the seller would put the other side's words in the seller's mouth.
        recorder->resolved(Failure{FailureKind::noDevice,
                                   QStringLiteral("No microphone found — the default input \"%1\" only repeats what "
                                                  "the computer plays; plug in a microphone")
                                       .arg(recorder->m_candidate.description)});
        return;
    }
    recorder->resolved(std::nullopt);
}

void PulseRecorder::resolved(std::optional<Failure> failure)
{
    m_resolving = false;
    if (m_phase == Phase::opening) {
        if (failure) {
            finishOpen(std::move(failure));
            return;
        }
        if (!m_stream)
            connectStream();
    } else if (m_phase == Phase::running) {
        if (failure) {
            // The default went away and nothing usable replaced it. While our stream still runs
            // it may keep working (the server moves it). Without one there is nothing to record
            // until the server names a usable default again, which a change event brings: often
            // within milliseconds (PipeWire names a placeholder first), so the device counts as
            // lost only when none has come within deviceGapMs.
            if (!m_stream) {
                m_gapError = failure->message;
                if (!m_deviceGap)
                    m_deviceGap = newTimer(deviceGapMs, &PulseRecorder::deviceGapCallback);
            }
        } else {
            freeTimer(m_deviceGap);
            m_gapReconnected = false;
            if (!m_stream || m_candidateDefault != m_defaultName)
                connectStream();
        }
    }
    if (m_resolveAgain && (m_phase == Phase::opening || m_phase == Phase::running)) {
        m_resolveAgain = false;
        resolveDefault();
    }
    paceReads();
}

void PulseRecorder::connectStream()
{
    dropStream();
    const pa_sample_spec spec = targetSpec();
    const char* streamName = m_device == Device::defaultSource ? "Quiro microphone" : "Quiro system audio";
    m_stream = pa_stream_new(m_context, streamName, &spec, nullptr);
    m_defaultName = m_candidateDefault;
    m_connecting = m_candidate;
    if (!m_stream) {
        streamFailed(contextError());
        return;
    }
    pa_stream_set_state_callback(m_stream, &PulseRecorder::streamStateCallback, this);
    pa_stream_set_read_callback(m_stream, &PulseRecorder::streamReadCallback, this);

    pa_buffer_attr attributes{};
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(m_fragmentMs) * 1000, &spec));
    const QByteArray device = m_connecting.name.toUtf8();
    // ADJUST_LATENCY: the server sizes the device's own buffer to our fragment, so audio comes in
    // steady small pieces instead of bursts of the device's default (up to two seconds).
    // DONT_MOVE: when our device disappears the server would move the stream to its default
    // source, which may be a monitor (the other side's voice recorded as the seller's) or, for
    // system audio, the microphone. Killed instead, the stream is re-opened here on a device
    // chosen by the rules above.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(m_stream, device.constData(), &attributes, flags) < 0)
        streamFailed(contextError());
}

void PulseRecorder::dropStream()
{
    if (!m_stream)
        return;
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(m_stream);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING)
        pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
    paceReads();
}

// Reads wait for a fragment's worth of audio only while the stream records and nothing else is
// asked of the server: the round trips of a device change or a reconnection are answered at once.
void PulseRecorder::paceReads()
{
    m_loop->setPaced(m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY && !m_resolving);
}

void PulseRecorder::streamFailed(const QString& error)
{
    dropStream();
    if (m_phase == Phase::opening) {
        finishOpen(Failure{
            FailureKind::openFailed,
            QStringLiteral("Could not open %1 (%2): %3").arg(m_connecting.description, m_connecting.name, error)});
        return;
    }
    if (m_phase != Phase::running)
        return;
    // A device that disappears takes its streams with it; follow whatever the default is now,
    // but give up when re-opening keeps failing rather than spin.
    if (++m_failuresSinceReady <= maxReopensWithoutAudio) {
        m_defaultName.clear();
        resolveDefault();
        return;
    }
    m_defaultName.clear();
    reportLost(error);
}

void PulseRecorder::deviceGapCallback(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    recorder->freeTimer(recorder->m_deviceGap);
    if (recorder->m_phase != Phase::running || recorder->m_stream)
        return;
    // A connection only learns of a new default through change events, and PipeWire's PulseAudio
    // layer (0.3.65) stops sending them for good once any client hangs up while being named (see
    // letNamingFinish()): this connection would go on seeing the placeholder while a new one reads
    // the device that replaced the old one. One fresh connection settles that before the device
    // counts as lost.
    if (!std::exchange(recorder->m_gapReconnected, true)) {
        if (recorder->reconnectAfter(0))
            recorder->m_deviceGap = recorder->newTimer(deviceGapMs, &PulseRecorder::deviceGapCallback);
        return;
    }
    recorder->reportLost(recorder->m_gapError);
}

void PulseRecorder::reportLost(const QString& error)
{
    // Said once per loss; the device that comes back is announced through deviceChanged.
    m_current = {};
    if (m_lostReported)
        return;
    m_lostReported = true;
    if (m_callbacks.streamError)
        m_callbacks.streamError(error);
}

void PulseRecorder::streamStateCallback(pa_stream* stream, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    if (stream != recorder->m_stream)
        return;
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: {
        recorder->m_failuresSinceReady = 0;
        recorder->paceReads();
        // After a device loss m_current is empty, so the device we are back on is always
        // announced; after a server loss the restored report names it instead.
        const bool switched = recorder->m_phase == Phase::running && !recorder->m_serverLost &&
                              (recorder->m_lostReported || recorder->m_current.name != recorder->m_connecting.name);
        recorder->m_lostReported = false;
        recorder->m_current = recorder->m_connecting;
        if (recorder->m_phase == Phase::opening)
            recorder->finishOpen(std::nullopt);
        else if (switched && recorder->m_callbacks.deviceChanged)
            recorder->m_callbacks.deviceChanged(recorder->m_current);
        return;
    }
    case PA_STREAM_FAILED:
        recorder->streamFailed(recorder->contextError());
        return;
    default:
        return;
    }
}

void PulseRecorder::streamReadCallback(pa_stream* stream, size_t, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        // A hole (data == nullptr) means the server lost audio; there is nothing to hand on.
        if (data && recorder->m_phase == Phase::running) {
            if (std::exchange(recorder->m_serverLost, false)) {
                if (recorder->m_callbacks.serverLink)
                    recorder->m_callbacks.serverLink(AudioSource::ServerLink::restored);
            }
            if (recorder->m_callbacks.data)
                recorder->m_callbacks.data(static_cast<const char*>(data), qsizetype(bytes));
        }
        pa_stream_drop(stream);
        if (stream != recorder->m_stream)
            return;
    }
}

void PulseRecorder::timerCallback(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    recorder->freeTimer(recorder->m_timer);
    // The call may ask for the next one.
    if (std::function<void()> call = std::exchange(recorder->m_timerCall, nullptr))
        call();
}

void PulseRecorder::openTimeoutCallback(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* recorder = static_cast<PulseRecorder*>(self);
    recorder->freeTimer(recorder->m_openTimeout);
    if (recorder->m_phase == Phase::opening)
        recorder->finishOpen(
            Failure{FailureKind::noServer, QStringLiteral("The sound server did not answer within %1 s — restart "
                                                          "PulseAudio or PipeWire")
                                               .arg(openTimeoutMs / 1000)});
}

} // namespace quiro
