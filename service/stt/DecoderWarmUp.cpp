#include "service/stt/DecoderWarmUp.h"

#include "core/Log.h"
#include "service/stt/SpeechModel.h"

#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

namespace quiro::service {

DecoderWarmUp::DecoderWarmUp(SpeechModel& model, QString language, size_t decoders)
    : m_model(model)
    , m_language(std::move(language))
    , m_decoders(decoders)
{
}

DecoderWarmUp::~DecoderWarmUp()
{
    m_stop = true;
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
    bool loaded = m_model.warmUp(m_language, 1, m_stop, &error);
    if (loaded && m_decoders > 1) {
        // Linux keeps a nice value per thread: only this one yields.
        ::setpriority(PRIO_PROCESS, ::gettid(), 19);
        loaded = m_model.warmUp(m_language, m_decoders, m_stop, &error);
    }
    if (!loaded)
        Log::line(QStringLiteral("Speech"), QStringLiteral("cannot load a decoder ahead: %1").arg(error));
    else if (!m_stop)
        Log::line(QStringLiteral("Speech"),
                  QStringLiteral("%1 decoders ready for '%2'").arg(m_model.idleDecoders(m_language)).arg(m_language));
}

} // namespace quiro::service
