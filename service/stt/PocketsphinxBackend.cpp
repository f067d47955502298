#include "service/stt/PocketsphinxBackend.h"

#include "service/stt/SpeechDecoder.h"
#include "service/stt/SpeechModel.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QThread>

namespace quiro::service {

PocketsphinxBackend::PocketsphinxBackend(SpeechModel& model, QString language, qint64 maxQueuedBytes, QObject* parent)
    : SpeechBackend(parent)
    , m_model(model)
    , m_language(std::move(language))
    , m_maxQueuedBytes(maxQueuedBytes)
    , m_queuedBytes(std::make_shared<std::atomic<qint64>>(0))
{
}

PocketsphinxBackend::~PocketsphinxBackend()
{
    if (m_thread) {
        // Stops a decoder in the middle of a large chunk; the wait is then at most one block.
        m_thread->requestInterruption();
        m_thread->quit();
        m_thread->wait();
    }
}

QString PocketsphinxBackend::name() const
{
    return QStringLiteral("pocketsphinx ") + QFileInfo(m_model.modelFolderFor(m_language)).fileName();
}

void PocketsphinxBackend::start()
{
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("stt-decoder"));
    // The decoder has no parent: it lives on the worker thread and is deleted there when the
    // thread's loop ends.
    auto* decoder = new SpeechDecoder(m_model, m_language, m_queuedBytes);
    decoder->moveToThread(m_thread);
    m_decoder = decoder;
    connect(m_thread, &QThread::finished, decoder, &QObject::deleteLater);
    connect(decoder, &SpeechDecoder::utterance, this, &PocketsphinxBackend::onUtterance);
    connect(decoder, &SpeechDecoder::finished, this, &SpeechBackend::finished);
    connect(decoder, &SpeechDecoder::failed, this, &SpeechBackend::failed);
    m_thread->start();
    QMetaObject::invokeMethod(decoder, &SpeechDecoder::start, Qt::QueuedConnection);
    // Audio waits in the decoder thread's queue behind its start, so the stream is ready at once.
    emit ready();
}

bool PocketsphinxBackend::feed(const QByteArray& pcm)
{
    if (m_queuedBytes->fetch_add(pcm.size()) + pcm.size() > m_maxQueuedBytes)
        return false;
    SpeechDecoder* decoder = m_decoder;
    QMetaObject::invokeMethod(
        decoder, [decoder, pcm] { decoder->feed(pcm); }, Qt::QueuedConnection);
    return true;
}

void PocketsphinxBackend::finish()
{
    // Queued behind all audio already handed over, so the last utterance is complete.
    QMetaObject::invokeMethod(m_decoder, &SpeechDecoder::finish, Qt::QueuedConnection);
}

void PocketsphinxBackend::onUtterance(const QString& transcript)
{
    const QJsonObject alternative{{QStringLiteral("transcript"), transcript}};
    emit results({
        {QStringLiteral("type"), QStringLiteral("Results")},
        {QStringLiteral("is_final"), true},
        {QStringLiteral("speech_final"), true},
        {QStringLiteral("channel"), QJsonObject{{QStringLiteral("alternatives"), QJsonArray{alternative}}}},
    });
}

} // namespace quiro::service
