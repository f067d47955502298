#include "service/stt/DecoderWarmUp.h"

#include "core/Log.h"
#include "service/stt/SpeechModel.h"

#include <QThread>

#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace quiro::service {

DecoderWarmUp::DecoderWarmUp(SpeechModel& model, QString language)
    : m_model(model)
    , m_language(std::move(language))
{
}

DecoderWarmUp::~DecoderWarmUp()
{
    m_stop = true;
    m_model.wakeWaiters();
    if (m_thread)
        m_thread->wait();
}

void DecoderWarmUp::start()
{
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->setObjectName(QStringLiteral("stt-warm-up"));
    m_thread->start();
}

void DecoderWarmUp::run()
{
    QString error;
    bool first = true;
    bool reported = false;
    while (!m_stop) {
        switch (m_model.loadAhead(m_language, &error)) {
        case SpeechModel::LoadAhead::loaded:
            // The first decoder loads at full speed, for the first stream; the later ones yield to
            // running streams. Linux keeps a nice value per thread: only this one yields.
            if (std::exchange(first, false))
                ::setpriority(PRIO_PROCESS, ::gettid(), 19);
            continue;
        case SpeechModel::LoadAhead::notNeeded:
            if (!std::exchange(reported, true))
                Log::line(
                    QStringLiteral("Speech"),
                    QStringLiteral("%1 decoders ready for '%2'").arg(m_model.idleDecoders(m_language)).arg(m_language));
            m_model.waitForDemand(m_language, m_stop);
            continue;
        case SpeechModel::LoadAhead::failed:
            Log::line(QStringLiteral("Speech"), QStringLiteral("cannot load a decoder ahead: %1").arg(error));
            return;
        }
    }
}

} // namespace quiro::service
