#pragma once

#include "service/stt/NoiseFill.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

struct ps_decoder_s;

namespace quiro::service {

class SpeechModel;

// One continuous recognition of one audio stream. Lives on a worker thread of its own: every
// slot runs there, and the signals reach the stream's socket through queued connections.
// Utterances are cut where the recognizer's voice detector falls from speech to silence.
class SpeechDecoder : public QObject {
    Q_OBJECT

public:
    // Audio is decoded one 10 ms frame at a time, so an utterance ends on the frame where the voice
    // detector falls silent, however large the incoming chunks are: the words that follow in the
    // same chunk start the next utterance instead of being lost with the one that ends.
    static constexpr qsizetype blockSamples = 160;

    // `queuedBytes` counts audio handed over but not decoded yet; the socket side adds, this
    // side subtracts, so a client sending faster than real time can be stopped.
    SpeechDecoder(SpeechModel& model, QString language, std::shared_ptr<std::atomic<qint64>> queuedBytes);
    ~SpeechDecoder() override;

public slots:
    void start();
    void feed(const QByteArray& pcm);
    // Ends the last utterance, emits it, then finished().
    void finish();

signals:
    void ready();
    void failed(const QString& message);
    void utterance(const QString& transcript);
    void finished();

private:
    void decodeBlock(qint16* samples, qsizetype count);
    enum class AfterUtterance { listenOn, stop };
    void endUtterance(AfterUtterance after);

    SpeechModel& m_model;
    QString m_language;
    std::shared_ptr<std::atomic<qint64>> m_queuedBytes;
    ps_decoder_s* m_decoder = nullptr;
    NoiseFill m_noise;
    QByteArray m_carry; // an odd byte left from the previous chunk
    bool m_inSpeech = false;
    bool m_finished = false;
};

} // namespace quiro::service
