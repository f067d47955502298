#include "audio/PulseCapture.h"

#include "core/Log.h"

#include <QCoro/QCoroFuture>

namespace quiro {

namespace {
// A probe only opens the device; how often it would deliver does not matter.
constexpr int probeFragmentMs = 100;
} // namespace

PulseCapture::PulseCapture(PulseRecorder::Device device, QByteArray threadName, int fragmentMs, Wording wording)
    : m_device(device)
    , m_threadName(std::move(threadName))
    , m_fragmentMs(fragmentMs)
    , m_wording(std::move(wording))
{
}

PulseCapture::~PulseCapture() = default;

void PulseCapture::setOnChunk(ChunkHandler handler)
{
    if (m_recorder)
        m_recorder->withLock([&] { m_onChunk = std::move(handler); });
    else
        m_onChunk = std::move(handler);
}

void PulseCapture::setOnServerLink(ServerLinkHandler handler)
{
    if (m_recorder)
        m_recorder->withLock([&] { m_onServerLink = std::move(handler); });
    else
        m_onServerLink = std::move(handler);
}

void PulseCapture::deliver(QByteArray chunk)
{
    if (m_onChunk)
        m_onChunk(std::move(chunk));
}

PulseRecorder::Callbacks PulseCapture::callbacks()
{
    PulseRecorder::Callbacks callbacks;
    callbacks.data = [this](const char* data, qsizetype bytes) { received(QByteArrayView(data, bytes)); };
    callbacks.deviceChanged = [this](const PulseRecorder::DeviceInfo& device) {
        Log::line(m_wording.tag, m_wording.deviceChanged.arg(device.description, device.name));
    };
    callbacks.streamError = [this](const QString& error) {
        Log::line(m_wording.tag, m_wording.streamError.arg(error));
    };
    callbacks.serverLink = [this](ServerLink link) {
        if (link == ServerLink::lost) {
            Log::line(m_wording.tag, QStringLiteral("Sound server lost — reconnecting"));
        } else {
            const PulseRecorder::DeviceInfo device = m_recorder->device();
            Log::line(
                m_wording.tag,
                QStringLiteral("Sound server back — recording from %1 (%2)").arg(device.description, device.name));
        }
        if (m_onServerLink)
            m_onServerLink(link);
    };
    return callbacks;
}

QCoro::Task<std::optional<AudioSource::Failure>> PulseCapture::start()
{
    if (m_recorder)
        co_return std::nullopt;
    clearPending();
    m_started = false;
    m_recorder = std::make_unique<PulseRecorder>(m_device, m_threadName, m_fragmentMs, callbacks());
    const quint64 generation = ++m_generation;
    const std::weak_ptr<int> alive = m_lifetime;
    const QString capture = m_wording.capture; // still needed when this capture is gone

    const std::optional<PulseRecorder::Failure> outcome = co_await m_recorder->openAsync();

    if (alive.expired())
        co_return Failure{std::nullopt, QStringLiteral("%1 was discarded while starting").arg(capture)};
    if (generation != m_generation || !m_recorder)
        co_return Failure{std::nullopt, QStringLiteral("%1 was stopped while starting").arg(capture)};
    if (outcome) {
        PulseCapture::stop();
        co_return PulseRecorder::captureFailure(*outcome);
    }
    m_started = true;
    started();
    co_return std::nullopt;
}

void PulseCapture::stop()
{
    ++m_generation;
    m_started = false;
    if (m_recorder) {
        m_recorder->close();
        m_recorder.reset();
    }
    clearPending();
}

QString PulseCapture::deviceDescription() const
{
    return m_recorder ? m_recorder->device().description : QString();
}

QString PulseCapture::deviceName() const
{
    return m_recorder ? m_recorder->device().name : QString();
}

bool PulseCapture::opens(PulseRecorder::Device device, QByteArray threadName)
{
    PulseRecorder probe(device, std::move(threadName), probeFragmentMs, {});
    const bool opened = !probe.openAndWait().has_value();
    probe.close();
    return opened;
}

} // namespace quiro
