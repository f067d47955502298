#include "audio/SoundServer.h"

#include <QRegularExpression>

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <memory>

namespace quiro::SoundServer {

namespace {

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// A default device as the server names it; empty when it has none, or only a placeholder.
QString device(const char* name)
{
    const QString device = text(name);
    return isPlaceholder(device) ? QString() : device;
}

// A one-shot conversation with the server on a plain (non-threaded) loop run right here: the
// callbacks below advance a small state machine and the loop runs until it says done.
struct Query {
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    Info info;
    QString error;
    int pending = 0; // requests still unanswered once connected
    bool done = false;

    void fail(const QString& message)
    {
        if (error.isEmpty())
            error = message;
        done = true;
    }
    void answered()
    {
        if (--pending == 0)
            done = true;
    }
};

// The operation handle is not needed (the callbacks carry the answer); a request that cannot
// even be sent leaves the query to the time-out.
void release(pa_operation* operation)
{
    if (operation)
        pa_operation_unref(operation);
}

void sourceInfo(pa_context*, const pa_source_info* source, int eol, void* data)
{
    auto* query = static_cast<Query*>(data);
    if (eol == 0 && source) {
        query->info.defaultSourceDescription = text(source->description);
        query->info.sourceIsMonitor = source->monitor_of_sink != PA_INVALID_INDEX;
        query->info.sourceMuted = source->mute != 0;
        return;
    }
    query->answered();
}

void sinkInfo(pa_context*, const pa_sink_info* sink, int eol, void* data)
{
    auto* query = static_cast<Query*>(data);
    if (eol == 0 && sink) {
        query->info.defaultSinkDescription = text(sink->description);
        query->info.monitorName = text(sink->monitor_source_name);
        return;
    }
    query->answered();
}

void serverInfo(pa_context* context, const pa_server_info* server, void* data)
{
    auto* query = static_cast<Query*>(data);
    if (!server) {
        query->fail(text(pa_strerror(pa_context_errno(context))));
        return;
    }
    query->info.serverName = text(server->server_name);
    query->info.serverVersion = text(server->server_version);
    query->info.defaultSink = device(server->default_sink_name);
    query->info.defaultSource = device(server->default_source_name);
    query->pending = 0;
    if (!query->info.defaultSink.isEmpty()) {
        ++query->pending;
        release(pa_context_get_sink_info_by_name(context, server->default_sink_name, &sinkInfo, data));
    }
    if (!query->info.defaultSource.isEmpty()) {
        ++query->pending;
        release(pa_context_get_source_info_by_name(context, server->default_source_name, &sourceInfo, data));
    }
    if (query->pending == 0)
        query->done = true;
}

void contextState(pa_context* context, void* data)
{
    auto* query = static_cast<Query*>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        release(pa_context_get_server_info(context, &serverInfo, data));
        return;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        query->fail(QStringLiteral("no sound server answers (%1)").arg(text(pa_strerror(pa_context_errno(context)))));
        return;
    default:
        return;
    }
}

void timedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data)
{
    static_cast<Query*>(data)->fail(QStringLiteral("the sound server did not answer in time"));
}

} // namespace

bool isPlaceholder(const QString& name)
{
    return name.startsWith(QLatin1Char('@')) && name.endsWith(QLatin1Char('@'));
}

QString describe(const Info& info)
{
    const QString reported = QStringLiteral("%1 %2").arg(info.serverName, info.serverVersion);
    static const QRegularExpression pipeWire(QStringLiteral("\\bon PipeWire ([^)\\s]+)"));
    const QRegularExpressionMatch match = pipeWire.match(info.serverName);
    if (!match.hasMatch())
        return reported;
    return QStringLiteral("PipeWire %1 — \"%2\"").arg(match.captured(1), reported);
}

std::variant<Info, QString> query(int timeoutMs)
{
    Query query;
    query.loop = pa_mainloop_new();
    if (!query.loop)
        return QStringLiteral("could not create an audio loop");
    pa_mainloop_api* api = pa_mainloop_get_api(query.loop);
    query.context = pa_context_new(api, "Quiro doctor");
    pa_time_event* timer = nullptr;
    if (!query.context) {
        query.fail(QStringLiteral("could not create a sound server connection"));
    } else {
        pa_context_set_state_callback(query.context, &contextState, &query);
        if (pa_context_connect(query.context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
            query.fail(
                QStringLiteral("no sound server answers (%1)").arg(text(pa_strerror(pa_context_errno(query.context)))));
        else
            timer =
                pa_context_rttime_new(query.context, pa_rtclock_now() + pa_usec_t(timeoutMs) * 1000, &timedOut, &query);
    }
    while (!query.done) {
        if (pa_mainloop_iterate(query.loop, 1, nullptr) < 0) {
            query.fail(QStringLiteral("the audio loop stopped"));
            break;
        }
    }
    if (timer)
        api->time_free(timer);
    if (query.context) {
        pa_context_set_state_callback(query.context, nullptr, nullptr);
        pa_context_disconnect(query.context);
        pa_context_unref(query.context);
    }
    pa_mainloop_free(query.loop);
    if (!query.error.isEmpty())
        return query.error;
    return query.info;
}

} // namespace quiro::SoundServer
