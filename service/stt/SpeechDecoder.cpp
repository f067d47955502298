#include "service/stt/SpeechDecoder.h"

#include "service/stt/SpeechModel.h"

#include <QThread>
#include <QtEndian>

#include <pocketsphinx.h>

#include <vector>

namespace quiro::service {

SpeechDecoder::SpeechDecoder(SpeechModel& model, QString language, std::shared_ptr<std::atomic<qint64>> queuedBytes)
    : m_model(model)
    , m_language(std::move(language))
    , m_queuedBytes(std::move(queuedBytes))
{
}

SpeechDecoder::~SpeechDecoder()
{
    if (m_decoder) {
        if (!m_finished)
            ps_end_utt(m_decoder);
        m_model.release(m_language, m_decoder);
    }
}

void SpeechDecoder::start()
{
    QString error;
    m_decoder = m_model.acquire(m_language, &error);
    if (!m_decoder || ps_start_utt(m_decoder) < 0) {
        emit failed(error.isEmpty() ? QStringLiteral("the recognizer could not start") : error);
        return;
    }
    emit ready();
}

void SpeechDecoder::feed(const QByteArray& pcm)
{
    if (m_queuedBytes)
        m_queuedBytes->fetch_sub(pcm.size());
    if (!m_decoder || m_finished)
        return;
    QByteArray bytes = m_carry + pcm;
    const qsizetype sampleCount = bytes.size() / 2;
    m_carry = bytes.size() % 2 ? bytes.right(1) : QByteArray();
    std::vector<qint16> samples(static_cast<size_t>(sampleCount));
    for (qsizetype i = 0; i < sampleCount; ++i)
        samples[size_t(i)] = qFromLittleEndian<qint16>(bytes.constData() + 2 * i);
    for (qsizetype offset = 0; offset < sampleCount; offset += blockSamples) {
        // A closing stream stops decoding mid-chunk rather than keep its owner waiting.
        if (QThread::currentThread()->isInterruptionRequested())
            return;
        decodeBlock(samples.data() + offset, std::min(blockSamples, sampleCount - offset));
    }
}

void SpeechDecoder::decodeBlock(qint16* samples, qsizetype count)
{
    m_noise.apply(std::span<qint16>(samples, size_t(count)));
    ps_process_raw(m_decoder, samples, size_t(count), FALSE, FALSE);
    const bool inSpeech = ps_get_in_speech(m_decoder) != 0;
    if (m_inSpeech && !inSpeech)
        endUtterance(AfterUtterance::listenOn);
    m_inSpeech = inSpeech;
}

void SpeechDecoder::endUtterance(AfterUtterance after)
{
    ps_end_utt(m_decoder);
    qint32 score = 0;
    const char* hypothesis = ps_get_hyp(m_decoder, &score);
    const QString text = hypothesis ? QString::fromUtf8(hypothesis).simplified() : QString();
    if (!text.isEmpty())
        emit utterance(text);
    if (after == AfterUtterance::listenOn)
        ps_start_utt(m_decoder);
}

void SpeechDecoder::finish()
{
    if (m_decoder && !m_finished) {
        m_finished = true;
        endUtterance(AfterUtterance::stop);
    }
    emit finished();
}

} // namespace quiro::service
